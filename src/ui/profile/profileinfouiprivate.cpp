// The profile dialog's private record: its initial values.

#include "profileinfouiprivate.h"

ProfileInfoUIPrivate::ProfileInfoUIPrivate()
    : ipsecScrollMark(-1),
      sslIcon(nullptr),
      ipsecIcon(nullptr),
      inputIcon(nullptr),
      outputIcon(nullptr),
      redDotIcon(nullptr),
      grayDotIcon(nullptr),
      tunnelPasswordEdited(false),
      preSharedKeyEdited(false),
      keptEspAuthAlgo(0),
      keptIkeHashAlgo(0),
      defaultGatewayIndex(-1) {}

ProfileInfoUIPrivate::~ProfileInfoUIPrivate() = default;

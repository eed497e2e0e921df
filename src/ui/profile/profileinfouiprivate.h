#pragma once
// What the profile dialog must remember between signals and that no widget holds: the
// profile file it edits, the looks of its left menu, whether the user typed into the two
// secret fields, the default gateway's row, the last text each byte-capped field
// accepted, and where the L2TP/IPSec sub-menu last switched its highlight.

#include <cstdint>

#include <QString>

class QPixmap;

class ProfileInfoUIPrivate {
public:
    // Empty texts, no pictures, both flags false, -1 for the scroll mark and the
    // default gateway.
    ProfileInfoUIPrivate();
    // Releases the texts only: the pictures are the dialog's, which deletes them first.
    ~ProfileInfoUIPrivate();
    ProfileInfoUIPrivate(const ProfileInfoUIPrivate&) = delete;
    ProfileInfoUIPrivate& operator=(const ProfileInfoUIPrivate&) = delete;

    // Scroll value of the L2TP/IPSec page at which the sub-menu highlight last moved.
    int ipsecScrollMark;
    // The connection name followed by ".ini".
    QString profileFileName;
    // Left-menu entry of the page in view, and the other entries.
    QString menuStyleCurrent;
    QString menuStyleOther;
    // Sub-menu entry whose part of the page is in view, the other one, and the IPSec
    // entry while IPSec is switched off.
    QString subMenuStyleCurrent;
    QString subMenuStyleOther;
    QString subMenuStyleDisabled;
    QPixmap* sslIcon;
    QPixmap* ipsecIcon;
    QPixmap* inputIcon;
    QPixmap* outputIcon;
    QPixmap* redDotIcon;
    QPixmap* grayDotIcon;
    // Set only by the user's typing: a stored secret the user did not retype is never
    // written back.
    bool tunnelPasswordEdited;
    bool preSharedKeyEdited;
    // An algorithm value read back that the form has no item for (its combo box then has
    // no current item); 0 when none. Written back until the user picks an item.
    uint32_t keptEspAuthAlgo;
    uint32_t keptIkeHashAlgo;
    // Row of the default gateway in the gateway list; -1 while there is none.
    int defaultGatewayIndex;
    // The last text each capped field held within its cap: a change over the cap puts
    // the field back to its own text. One text per field, so that undoing one field
    // never fills it with what another field last accepted.
    QString lastAcceptedConnectNameSSL;
    QString lastAcceptedConnectNameIPSEC;
    QString lastAcceptedDescriptionMsgSSL;
    QString lastAcceptedDescriptionMsgIPSEC;
    QString lastAcceptedLocalGatewayName;
    QString lastAcceptedRemoteGatewayName;
    // The tunnel name and the two secrets end in byte fields too: a text over the field
    // would reach the record as an empty field, losing the name or silently keeping the
    // stored secret.
    QString lastAcceptedTunnelName;
    QString lastAcceptedTunnelPassword;
    QString lastAcceptedStatusConfirm;
};

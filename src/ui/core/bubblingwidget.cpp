// The notification bubble.

#include "bubblingwidget.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>

#include "ui_bubblingwidget.h"

namespace {

// The whole show: rise in the first eighth, stand, sink in the last twelve hundredths.
constexpr int kShowMs = 5000;
constexpr qreal kRisenAt = 0.125;
constexpr qreal kSinkFrom = 0.88;

}  // namespace

BubblingWidget::BubblingWidget(QWidget* parent)
    : QDialog(parent), ui(new Ui_BubblingWidget), m_animation(this, "geometry") {
    ui->setupUi(this);
    setPosition();
}

BubblingWidget::~BubblingWidget() { delete ui; }

void BubblingWidget::popUp(const QString& text) {
    BubblingWidget* bubble = new BubblingWidget(nullptr);
    bubble->setText(text);
    bubble->showBubble();
}

void BubblingWidget::setText(const QString& text) { ui->label->setText(text); }

// Just below the bottom edge of the available area, at its right-hand side, so that the
// rise starts out of sight. The area's own offset is not added: the bubble sits where
// the primary screen's available size puts it.
void BubblingWidget::setPosition() {
    setWindowFlags(Qt::WindowStaysOnTopHint);
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect available = screen->availableGeometry();
    move(available.width() - width(), available.height());
}

void BubblingWidget::showBubble() {
    show();
    connect(&m_animation, SIGNAL(finished()), this, SLOT(slot_Close()));
    const QRect low(x(), y(), width(), height());
    const QRect high = low.translated(0, -height());
    m_animation.setDuration(kShowMs);
    m_animation.setKeyValueAt(0, low);
    m_animation.setKeyValueAt(kRisenAt, high);
    m_animation.setKeyValueAt(kSinkFrom, high);
    m_animation.setKeyValueAt(1, low);
    m_animation.start(QAbstractAnimation::KeepWhenStopped);
}

// Called from the animation while it reports its end, so the window (which holds the
// animation) must outlive this call: its deletion waits for the event loop.
void BubblingWidget::slot_Close() { deleteLater(); }

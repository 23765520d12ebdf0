#include "dialogs/About.h"

#include "dialogs/VendorLinks.h"
#include "resources/Pictures.h"

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>

namespace qrv::gui {

TFormAbout::TFormAbout(QWidget* parent) : TFixedDialog(parent, 219, 245) {
    setObjectName(QStringLiteral("FormAbout"));
    setWindowTitle(QStringLiteral("About"));
    // The palette's base colour as ground (white on a light desktop, dark on a dark one), also
    // under the button, whose frame is drawn over the window colour.
    ApplyGround();
    setAutoFillBackground(true);
    installEventFilter(this);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(42, 24, 145, 65);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->installEventFilter(this);
    RenderLogo();

    Label1 = AddLabel("Label1", "Quorvane " QRV_VERSION, QRect(12, 112, 192, 22));
    QFont productFont(QStringLiteral("Concielian Condensed"));
    productFont.setPixelSize(20);
    Label1->setFont(productFont);
    Label1->setForegroundRole(QPalette::Text); // black on a light ground

    Label2 = AddLabel("Label2", "Ostrelle", QRect(55, 152, 115, 13));
    QFont linkFont = font();
    linkFont.setUnderline(true);
    Label2->setFont(linkFont);
    Label2->setForegroundRole(QPalette::Link);
    Label2->setCursor(Qt::PointingHandCursor);
    Label2->installEventFilter(this);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(72, 200, 80, 25);
    Button1->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    TranslateWindow(this);
}

TFormAbout::~TFormAbout() = default;

void TFormAbout::RenderLogo() {
    Image1->setPixmap(RenderPictureOn(QString::fromLatin1(PictureHeaderLogo), QSize(143, 60),
                                      Image1->devicePixelRatioF(), palette()));
}

void TFormAbout::ApplyGround() {
    QPalette ground = palette();
    ground.setColor(QPalette::Window, ground.color(QPalette::Base));
    setPalette(ground);
}

bool TFormAbout::eventFilter(QObject* watched, QEvent* event) {
    // A new desktop palette changes the base colour; the ground follows it.
    if (watched == this && event->type() == QEvent::PaletteChange &&
        palette().color(QPalette::Window) != palette().color(QPalette::Base))
        ApplyGround();
    // Drawn again at the ratio of a screen the dialog moves to, and for a new palette.
    if (watched == Image1 &&
        (event->type() == QEvent::ScreenChangeInternal || event->type() == QEvent::PaletteChange))
        RenderLogo();
    if (watched == Label2 && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            Label2->rect().contains(mouse->position().toPoint())) {
            Label2Click();
            return true;
        }
    }
    return TFixedDialog::eventFilter(watched, event);
}

void TFormAbout::Label2Click() {
    Guarded([] { OpenVendorPage("about"); });
}

void TFormAbout::Button1Click() {
    hide();
}

} // namespace qrv::gui

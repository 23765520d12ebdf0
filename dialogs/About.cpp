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
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

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
    QPalette black = Label1->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    Label1->setPalette(black);

    Label2 = AddLabel("Label2", "Ostrelle", QRect(55, 152, 115, 13));
    QFont linkFont = font();
    linkFont.setUnderline(true);
    Label2->setFont(linkFont);
    QPalette link = Label2->palette();
    link.setColor(QPalette::WindowText, link.color(QPalette::Link));
    Label2->setPalette(link);
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
    Image1->setPixmap(RenderPictureAt(QString::fromLatin1(PictureHeaderLogo), QSize(143, 60),
                                      Image1->devicePixelRatioF()));
}

bool TFormAbout::eventFilter(QObject* watched, QEvent* event) {
    // Drawn again at the ratio of a screen the dialog moves to.
    if (watched == Image1 && event->type() == QEvent::ScreenChangeInternal)
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

#include "Info.h"

#include "Bitmap_Skalieren.h"
#include "Global.h"
#include "ImageLists.h"

#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include <cmath>

namespace {

// Layout at 96 dpi.
constexpr int kClientWidth = 760;
constexpr int kClientHeight = 410;
constexpr int kFooterHeight = 75;
constexpr QPoint kPicturePos{45, 30};
constexpr QRect kOkRect{657, 363, 70, 25};
constexpr QSize kStoredPicture{1200, 420};

const QColor kBackground(255, 114, 19);
const QColor kFooter(219, 226, 226);

void FillWith(QWidget* w, const QColor& color) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, color);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

}  // namespace

TfrmInfo::TfrmInfo(QWidget* parent, int dpi, double ratio)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      dpi_(dpi > 0 ? dpi : ScreenDpi()),
      ratio_(ratio > 0 ? ratio : ScreenPixelRatio()) {
    setObjectName(QStringLiteral("frmInfo"));
    shpFussleiste = new QWidget(this);
    imgHintergrund = new QLabel(this);
    lblVersion = new QLabel(this);
    btnOk = new QPushButton(QStringLiteral("Ok"), this);
    FormCreate();
}

QSize TfrmInfo::PictureSize(int dpi) {
    const auto scaled = [dpi](int stored) {
        return static_cast<int>(std::nearbyint(stored / 2.0 * dpi / 96.0));
    };
    return {scaled(kStoredPicture.width()), scaled(kStoredPicture.height())};
}

int TfrmInfo::Scaled(int value) const {
    return static_cast<int>(std::lround(static_cast<double>(value) * dpi_ / 96.0));
}

void TfrmInfo::FormCreate() {
    setFixedSize(Scaled(kClientWidth), Scaled(kClientHeight));
    FillWith(this, kBackground);
    shpFussleiste->setGeometry(0, height() - Scaled(kFooterHeight), width(), Scaled(kFooterHeight));
    FillWith(shpFussleiste, kFooter);

    // Resampled once, straight to the device pixels of the screen (not to the
    // logical size and then enlarged by the toolkit), drawn at the logical size.
    QImage picture(QStringLiteral(":/info/hintergrund.png"));
    const QSize target = PictureSize(DeviceDpi(dpi_, ratio_));
    BildSkalieren(picture, target.width(), target.height(), 0.0f, rfLanczos3);
    QPixmap pixmap = QPixmap::fromImage(picture);
    pixmap.setDevicePixelRatio(ratio_);
    imgHintergrund->setPixmap(pixmap);
    imgHintergrund->setAttribute(Qt::WA_TranslucentBackground);
    imgHintergrund->move(Scaled(kPicturePos.x()), Scaled(kPicturePos.y()));
    imgHintergrund->resize(pixmap.deviceIndependentSize().toSize());

    btnOk->setGeometry(Scaled(kOkRect.x()), Scaled(kOkRect.y()), Scaled(kOkRect.width()),
                       Scaled(kOkRect.height()));
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &TfrmInfo::btnOkClick);

    setFont(QApplication::font("QMenu"));
    QPalette pal = lblVersion->palette();
    pal.setColor(QPalette::WindowText, Qt::white);
    lblVersion->setPalette(pal);
    lblVersion->setAttribute(Qt::WA_TranslucentBackground);
    lblVersion->setAlignment(Qt::AlignCenter);
}

void TfrmInfo::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TfrmInfo::FormShow() {
    lblVersion->setText(QStringLiteral("Version ") + GetVersionText(4));
    lblVersion->adjustSize();
    const int left = static_cast<int>(std::nearbyint((width() - lblVersion->width()) / 2.0));
    lblVersion->move(left, shpFussleiste->y() - lblVersion->height() - 15);
}

void TfrmInfo::btnOkClick() {
    accept();
}

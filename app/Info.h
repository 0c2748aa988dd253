// The info window: the program's picture and its version on an orange, borderless window.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QWidget;

class TfrmInfo : public QDialog {
    Q_OBJECT

public:
    // `dpi` is the resolution the window is laid out for, `ratio` the device
    // pixels per logical pixel the picture is resampled for; the screen's by default.
    explicit TfrmInfo(QWidget* parent = nullptr, int dpi = 0, double ratio = 0);

    // The picture's size at a resolution: half the stored 1200 x 420 picture at 96 dpi,
    // scaled in proportion and rounded half to even.
    static QSize PictureSize(int dpi);

    // The window's parts, as the tests and the main window see them.
    QWidget* shpFussleiste;
    QLabel* imgHintergrund;
    QLabel* lblVersion;
    QPushButton* btnOk;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void btnOkClick();
    int Scaled(int value) const;

    int dpi_;
    double ratio_;
};

// SPDX-License-Identifier: GPL-2.0-or-later
#include "AviSaveOptionsDialog.h"

#include "FourCC.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr std::uint32_t kFullFrames = FourCC("DIB ");
constexpr std::uint32_t kStreamTypeVideo = FourCC("vids");
constexpr int kDefaultKeyFrames = 15;
constexpr int kDefaultDataRate = 1000; // KB/sec
constexpr std::uint32_t kDefaultQuality = 7500;

// The choice of the last accepted dialog, for as long as the program runs.
AVICOMPRESSOPTIONS& Remembered()
{
    static AVICOMPRESSOPTIONS last = [] {
        AVICOMPRESSOPTIONS o{};
        o.fccType = kStreamTypeVideo;
        o.fccHandler = kFullFrames;
        o.dwQuality = kDefaultQuality;
        return o;
    }();
    return last;
}

} // namespace

AviSaveOptionsDialog::AviSaveOptionsDialog(QWidget* owner, std::uint32_t uiFlags, const AVICOMPRESSOPTIONS& initial)
    : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Video Compression"));
    setModal(true);

    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("compressors"));
    int selected = 0;
    const auto& compressors = AviCompressors();
    for (std::size_t i = 0; i < compressors.size(); ++i) {
        auto* item = new QListWidgetItem(QString::fromStdString(compressors[i].description), list_);
        item->setData(Qt::UserRole, static_cast<uint>(compressors[i].fccHandler));
        if (compressors[i].fccHandler == initial.fccHandler)
            selected = static_cast<int>(i);
    }
    list_->setCurrentRow(selected);
    advice_ = new QLabel(this);
    advice_->setObjectName(QStringLiteral("advice"));
    advice_->setWordWrap(true);

    keyCheck_ = new QCheckBox(QStringLiteral("Key frame every"), this);
    keyCheck_->setObjectName(QStringLiteral("keyFrameCheck"));
    keyFrames_ = new QSpinBox(this);
    keyFrames_->setObjectName(QStringLiteral("keyFrames"));
    keyFrames_->setRange(1, 9999);
    keyFrames_->setValue(initial.dwKeyFrameEvery > 0
                             ? static_cast<int>(std::min<std::uint32_t>(initial.dwKeyFrameEvery, 9999))
                             : kDefaultKeyFrames);
    keyCheck_->setChecked(initial.dwKeyFrameEvery > 0);

    rateCheck_ = new QCheckBox(QStringLiteral("Data rate"), this);
    rateCheck_->setObjectName(QStringLiteral("dataRateCheck"));
    dataRate_ = new QSpinBox(this);
    dataRate_->setObjectName(QStringLiteral("dataRate"));
    dataRate_->setRange(1, 999999);
    dataRate_->setValue(initial.dwBytesPerSecond >= 1024
                            ? static_cast<int>(std::min<std::uint32_t>(initial.dwBytesPerSecond / 1024, 999999))
                            : kDefaultDataRate);
    rateCheck_->setChecked(initial.dwBytesPerSecond > 0);

    quality_ = new QSlider(Qt::Horizontal, this);
    quality_->setObjectName(QStringLiteral("quality"));
    quality_->setRange(0, 100);
    quality_->setValue(static_cast<int>(std::min<std::uint32_t>(initial.dwQuality, 10000) / 100));
    qualityLabel_ = new QLabel(this);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Compressor:"), this), 0, 0, 1, 3);
    grid->addWidget(list_, 1, 0, 1, 3);
    grid->addWidget(advice_, 2, 0, 1, 3);
    grid->addWidget(qualityLabel_, 3, 0);
    grid->addWidget(quality_, 3, 1, 1, 2);
    grid->addWidget(keyCheck_, 4, 0);
    grid->addWidget(keyFrames_, 4, 1);
    grid->addWidget(new QLabel(QStringLiteral("frames"), this), 4, 2);
    grid->addWidget(rateCheck_, 5, 0);
    grid->addWidget(dataRate_, 5, 1);
    grid->addWidget(new QLabel(QStringLiteral("KB/sec"), this), 5, 2);
    // Rows the caller did not ask for stay out of sight.
    for (QWidget* w : {static_cast<QWidget*>(keyCheck_), static_cast<QWidget*>(keyFrames_),
                       grid->itemAtPosition(4, 2)->widget()})
        w->setVisible(uiFlags & ICMF_CHOOSE_KEYFRAME);
    for (QWidget* w : {static_cast<QWidget*>(rateCheck_), static_cast<QWidget*>(dataRate_),
                       grid->itemAtPosition(5, 2)->widget()})
        w->setVisible(uiFlags & ICMF_CHOOSE_DATARATE);

    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons_);

    connect(list_, &QListWidget::currentRowChanged, this, [this] { UpdateForCompressor(); });
    connect(keyCheck_, &QCheckBox::toggled, this, [this] { UpdateForCompressor(); });
    connect(rateCheck_, &QCheckBox::toggled, this, [this] { UpdateForCompressor(); });
    connect(quality_, &QSlider::valueChanged, this, [this] { UpdateForCompressor(); });
    UpdateForCompressor();
}

void AviSaveOptionsDialog::UpdateForCompressor()
{
    const int row = list_->currentRow();
    const auto& compressors = AviCompressors();
    const AviCompressor* c =
        row >= 0 && static_cast<std::size_t>(row) < compressors.size() ? &compressors[row] : nullptr;
    advice_->setText(c ? QString::fromStdString(c->advice) : QString());
    const bool key = c && c->hasKeyFrames;
    const bool rate = c && c->hasDataRate;
    const bool quality = c && c->hasQuality && !(rate && rateCheck_->isChecked());
    keyCheck_->setEnabled(key);
    keyFrames_->setEnabled(key && keyCheck_->isChecked());
    rateCheck_->setEnabled(rate);
    dataRate_->setEnabled(rate && rateCheck_->isChecked());
    quality_->setEnabled(quality);
    qualityLabel_->setEnabled(quality);
    qualityLabel_->setText(QStringLiteral("Quality: %1").arg(quality_->value()));
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(c != nullptr);
}

AVICOMPRESSOPTIONS AviSaveOptionsDialog::Options() const
{
    AVICOMPRESSOPTIONS o{};
    o.fccType = kStreamTypeVideo;
    const int row = list_->currentRow();
    const auto& compressors = AviCompressors();
    if (row < 0 || static_cast<std::size_t>(row) >= compressors.size())
        return o;
    const AviCompressor& c = compressors[row];
    o.fccHandler = c.fccHandler;
    o.dwQuality = static_cast<std::uint32_t>(quality_->value()) * 100;
    o.dwFlags = AVICOMPRESSF_VALID;
    if (c.hasKeyFrames && keyCheck_->isChecked()) {
        o.dwKeyFrameEvery = static_cast<std::uint32_t>(keyFrames_->value());
        o.dwFlags |= AVICOMPRESSF_KEYFRAMES;
    }
    if (c.hasDataRate && rateCheck_->isChecked()) {
        o.dwBytesPerSecond = static_cast<std::uint32_t>(dataRate_->value()) * 1024;
        o.dwFlags |= AVICOMPRESSF_DATARATE;
    }
    return o;
}

int AviSaveOptionsDialog::Run(QWidget* owner, std::uint32_t uiFlags, AVICOMPRESSOPTIONS& options)
{
    // The run hands over a cleared record; one that names a compressor is
    // opened on as it is.
    const AVICOMPRESSOPTIONS initial = options.fccHandler ? options : Remembered();
    AviSaveOptionsDialog dialog(owner, uiFlags, initial);
    if (dialog.exec() != QDialog::Accepted)
        return 0;
    options = dialog.Options();
    Remembered() = options;
    return 1;
}

void InstallAviSaveOptionsDialog()
{
    SetAviSaveOptionsProvider([](AviOwnerWindow owner, std::uint32_t uiFlags, AVICOMPRESSOPTIONS& options) {
        return AviSaveOptionsDialog::Run(static_cast<QWidget*>(owner), uiFlags, options);
    });
}

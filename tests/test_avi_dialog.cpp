// The "Video Compression" dialog driven as a user would, through
// AVISaveOptions with the dialog installed, on the offscreen platform.
#include "AviSaveOptionsDialog.h"
#include "mdAVI.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <iterator>
#include <tuple>

namespace {

// Calls AVISaveOptions the way the run does, with `user` acting on the
// dialog once it is up.
int AskWith(QWidget* owner, std::uint32_t flags, AVICOMPRESSOPTIONS& options,
            const std::function<void(QDialog&)>& user)
{
    bool acted = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        acted = true;
        user(*dialog);
    });
    AVICOMPRESSOPTIONS* array[1] = {&options};
    const int answer = AVISaveOptions(owner, flags, 1, nullptr, array);
    EXPECT_TRUE(acted) << "no modal dialog came up";
    if (answer == 1)
        AVISaveOptionsFree(1, array);
    return answer;
}

void Click(QDialog& d, QDialogButtonBox::StandardButton button)
{
    d.findChild<QDialogButtonBox*>()->button(button)->click();
}

constexpr std::uint32_t kBoth = ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE;

} // namespace

// One test, in order, because the dialog remembers the last choice for as
// long as the program runs.
TEST(AviSaveOptionsDialog, ChoosesRemembersCancelsAndCloses)
{
    InstallAviSaveOptionsDialog();
    QWidget owner;
    owner.show();
    const auto& compressors = AviCompressors();

    // First opening: Full Frames, owned by the window, with its rows.
    AVICOMPRESSOPTIONS options{};
    int answer = AskWith(&owner, kBoth, options, [&](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Video Compression");
        EXPECT_EQ(d.parentWidget(), &owner);
        EXPECT_TRUE(d.isModal());
        auto* list = d.findChild<QListWidget*>("compressors");
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->count(), std::ssize(compressors));
        EXPECT_EQ(list->currentItem()->text(), "Full Frames (Uncompressed)");
        EXPECT_EQ(d.findChild<QLabel*>("advice")->text().toStdString(), compressors[0].advice);
        EXPECT_FALSE(d.findChild<QSlider*>("quality")->isEnabled());
        EXPECT_FALSE(d.findChild<QCheckBox*>("keyFrameCheck")->isEnabled());
        for (const char* row : {"keyFrameCheck", "dataRateCheck"})
            EXPECT_TRUE(d.findChild<QCheckBox*>(row)->isVisibleTo(&d)) << row;
        Click(d, QDialogButtonBox::Ok);
    });
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(std::tuple(options.fccHandler, options.dwKeyFrameEvery, options.dwBytesPerSecond),
              std::tuple(compressors[0].fccHandler, 0u, 0u));

    // MPEG-4 with a key frame every 10 frames and 300 KB/sec.
    const auto mpeg4 = std::find_if(compressors.begin(), compressors.end(),
                                    [](const AviCompressor& c) { return c.name == "mpeg4"; });
    if (mpeg4 != compressors.end()) {
        options = {};
        answer = AskWith(&owner, kBoth, options, [&](QDialog& d) {
            d.findChild<QListWidget*>("compressors")->setCurrentRow(static_cast<int>(mpeg4 - compressors.begin()));
            EXPECT_EQ(d.findChild<QLabel*>("advice")->text().toStdString(), mpeg4->advice);
            auto* key = d.findChild<QCheckBox*>("keyFrameCheck");
            EXPECT_TRUE(key->isEnabled());
            key->setChecked(true);
            d.findChild<QSpinBox*>("keyFrames")->setValue(10);
            auto* quality = d.findChild<QSlider*>("quality");
            EXPECT_TRUE(quality->isEnabled());
            quality->setValue(55);
            d.findChild<QCheckBox*>("dataRateCheck")->setChecked(true);
            d.findChild<QSpinBox*>("dataRate")->setValue(300);
            EXPECT_FALSE(quality->isEnabled()) << "a data rate overrules the quality";
            Click(d, QDialogButtonBox::Ok);
        });
        EXPECT_EQ(answer, 1);
        constexpr std::uint32_t kChosen = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_DATARATE;
        EXPECT_EQ(std::tuple(options.fccHandler, options.dwKeyFrameEvery, options.dwBytesPerSecond, options.dwQuality,
                             options.dwFlags & kChosen),
                  std::tuple(mpeg4->fccHandler, 10u, 300u * 1024, 5500u, kChosen));
    }

    // Cancel: answers 0, fills nothing, and the next opening still shows
    // the last accepted choice.
    const std::uint32_t last = AviSaveOptionsDialog::LastChoice().fccHandler;
    options = {};
    answer = AskWith(&owner, kBoth, options, [&](QDialog& d) {
        auto* list = d.findChild<QListWidget*>("compressors");
        EXPECT_EQ(list->currentItem()->data(Qt::UserRole).toUInt(), last);
        if (mpeg4 != compressors.end()) {
            EXPECT_EQ(d.findChild<QSpinBox*>("keyFrames")->value(), 10);
        }
        list->setCurrentRow(0);
        Click(d, QDialogButtonBox::Cancel);
    });
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(options.fccHandler, 0u);
    EXPECT_EQ(AviSaveOptionsDialog::LastChoice().fccHandler, last);

    // Closing the window counts as Cancel; without the flags the rows are hidden.
    answer = AskWith(&owner, 0, options, [&](QDialog& d) {
        for (const char* row : {"keyFrameCheck", "dataRateCheck"})
            EXPECT_FALSE(d.findChild<QCheckBox*>(row)->isVisibleTo(&d)) << row;
        d.close();
    });
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(AviSaveOptionsPending(), 0);
}

// The "Video Compression" dialog driven as a user would, through
// AVISaveOptions with the dialog installed, on the offscreen platform.
#include "AviSaveOptionsDialog.h"
#include "mdAVI.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <tuple>

// One test, in order, because the dialog remembers the last accepted choice
// for as long as the program runs.
TEST(AviSaveOptionsDialog, ChoosesRemembersAndCancels)
{
    InstallAviSaveOptionsDialog();
    QWidget owner;
    const auto& compressors = AviCompressors();
    // Calls AVISaveOptions as the run does, with `user` acting on the dialog
    // and then pressing OK or Cancel.
    auto ask = [&](std::uint32_t flags, bool ok, const std::function<void(QDialog&)>& user) {
        QTimer::singleShot(0, [&] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(d->parentWidget(), &owner);
            user(*d);
            d->findChild<QDialogButtonBox*>()->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
        });
        AVICOMPRESSOPTIONS options{};
        AVICOMPRESSOPTIONS* array[1] = {&options};
        const int answer = AVISaveOptions(&owner, flags, 1, nullptr, array);
        EXPECT_EQ(std::tuple(answer, AviSaveOptionsPending()), std::tuple(ok ? 1 : 0, ok ? 1 : 0));
        AVISaveOptionsFree(answer, array);
        return options;
    };
    const std::uint32_t both = ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE;

    // First opening: the first compressor (Full Frames), nothing to set.
    AVICOMPRESSOPTIONS chosen = ask(both, true, [&](QDialog& d) {
        EXPECT_EQ(d.findChild<QListWidget*>("compressors")->count(), std::ssize(compressors));
        EXPECT_FALSE(d.findChild<QSlider*>("quality")->isEnabled());
        EXPECT_FALSE(d.findChild<QCheckBox*>("keyFrameCheck")->isEnabled());
    });
    EXPECT_EQ(std::tuple(chosen.fccHandler, chosen.dwKeyFrameEvery, chosen.dwBytesPerSecond),
              std::tuple(compressors[0].fccHandler, 0u, 0u));

    // One with every setting: a key frame every 10 frames, 300 KB/sec.
    const auto full = std::find_if(compressors.begin(), compressors.end(),
                                   [](const auto& c) { return c.hasKeyFrames && c.hasDataRate && c.hasQuality; });
    ASSERT_NE(full, compressors.end());
    chosen = ask(both, true, [&](QDialog& d) {
        d.findChild<QListWidget*>("compressors")->setCurrentRow(static_cast<int>(full - compressors.begin()));
        d.findChild<QCheckBox*>("keyFrameCheck")->setChecked(true);
        d.findChild<QSpinBox*>("keyFrames")->setValue(10);
        auto* quality = d.findChild<QSlider*>("quality");
        quality->setValue(55);
        d.findChild<QCheckBox*>("dataRateCheck")->setChecked(true);
        d.findChild<QSpinBox*>("dataRate")->setValue(300);
        EXPECT_FALSE(quality->isEnabled()) << "a data rate overrules the quality";
    });
    EXPECT_EQ(std::tuple(chosen.fccHandler, chosen.dwKeyFrameEvery, chosen.dwBytesPerSecond, chosen.dwQuality,
                         chosen.dwFlags & (AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_DATARATE)),
              std::tuple(full->fccHandler, 10u, 300u * 1024, 5500u, AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_DATARATE));

    // Cancel fills nothing, and the next opening still shows the last
    // accepted choice; without the flags its rows are hidden.
    for (const std::uint32_t flags : {both, 0u}) {
        chosen = ask(flags, false, [&](QDialog& d) {
            auto* list = d.findChild<QListWidget*>("compressors");
            EXPECT_EQ(list->currentItem()->data(Qt::UserRole).toUInt(), full->fccHandler);
            EXPECT_EQ(d.findChild<QSpinBox*>("keyFrames")->value(), 10);
            EXPECT_EQ(d.findChild<QCheckBox*>("dataRateCheck")->isVisibleTo(&d), flags != 0);
            list->setCurrentRow(0);
        });
        EXPECT_EQ(chosen.fccHandler, 0u);
    }
}

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The "Video Compression" dialog that answers AVISaveOptions: the
// compressors of this build, their key-frame interval, data rate and
// quality where they have them.
#include "mdAVI.h"

#include <QDialog>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QListWidget;
class QSlider;
class QSpinBox;

class AviSaveOptionsDialog : public QDialog {
    Q_OBJECT
public:
    // uiFlags: ICMF_CHOOSE_KEYFRAME and ICMF_CHOOSE_DATARATE show those rows.
    AviSaveOptionsDialog(QWidget* owner, std::uint32_t uiFlags, const AVICOMPRESSOPTIONS& initial);

    // The options as the controls stand.
    AVICOMPRESSOPTIONS Options() const;

    // Shows the dialog modally, owned by `owner`; on OK fills `options`,
    // remembers them as the next opening's choice and answers 1, else 0.
    static int Run(QWidget* owner, std::uint32_t uiFlags, AVICOMPRESSOPTIONS& options);

private:
    void UpdateForCompressor();

    QListWidget* list_;
    QLabel* advice_;
    QCheckBox* keyCheck_;
    QSpinBox* keyFrames_;
    QCheckBox* rateCheck_;
    QSpinBox* dataRate_;
    QLabel* qualityLabel_;
    QSlider* quality_;
    QDialogButtonBox* buttons_;
};

// Makes the dialog the answer of AVISaveOptions; the owner window handed to
// AVISaveOptions is taken as a QWidget* (or null).
void InstallAviSaveOptionsDialog();

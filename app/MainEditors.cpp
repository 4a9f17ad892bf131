// The parameter editors: the two looks of the editor area, showing and
// reading the parameter set, the arrows and the editing rules.
#include "Main.h"

#include "Colors.h"
#include "NumEdit.h"
#include "NumFormat.h"
#include "Panels.h"
#include "ParamFields.h"
#include "Selector.h"

#include <QGroupBox>
#include <QLabel>
#include <QToolButton>

#include <cmath>

using namespace vostrel;

namespace {

int StepCode(int code, int delta, int first, int last)
{
    code += delta;
    if (code > last)
        code = first;
    if (code < first)
        code = last;
    return code;
}

}  // namespace

namespace vostrel {

QString KolvoBytesCaption(double pauseMs, int baudCode)
{
    // The time of one 10-bit character in ms at 9600, 19200, 38400, 57600.
    static constexpr double kCharTime[4] = {1.0416666666666667, 0.5208333333333334, 0.2604166666666667,
                                            0.1736111111111111};
    const double d = kCharTime[(baudCode >= 0 && baudCode <= 3) ? baudCode : 0];
    const double n = pauseMs / d;
    return FormatPattern(n, QStringLiteral("0")) + QStringLiteral(" байт");
}
}  // namespace vostrel

// ---- the two looks ----

void TfmMain::ClearControls()
{
    const QColor white = BgrColor(clWhiteBgr);
    panStep->SetCaptionColor(white);
    panZPCH1->SetCaptionColor(white);
    edZPCH1_RxFreq->SetTextColor(white);
    edZPCH1_RxFreq->SetLimits(paramfile::kFreqMin, paramfile::kFreqMax);
    edZPCH1_TxFreq->SetTextColor(white);
    edZPCH1_TxFreq->SetLimits(paramfile::kFreqMin, paramfile::kFreqMax);
    edZPCH1_TxFreq->setEnabled(true);
    panZPCH1Power->SetCaptionColor(white);
    panZPCH2->SetCaptionColor(white);
    edZPCH2_RxFreq->SetTextColor(white);
    edZPCH2_RxFreq->SetLimits(paramfile::kFreqMin, paramfile::kFreqMax);
    edZPCH2_TxFreq->SetTextColor(white);
    edZPCH2_TxFreq->SetLimits(paramfile::kFreqMin, paramfile::kFreqMax);
    edZPCH2_TxFreq->setEnabled(true);
    panZPCH2Power->SetCaptionColor(white);
    panBaudRate->SetCaptionColor(white);
    panFlowControl->SetCaptionColor(white);
    edXoffAfter->SetTextColor(white);
    edXoffAfter->setEnabled(true);
    edRxPause->SetTextColor(white);
    edRxPause->setEnabled(true);
    laKolvoBytes->hide();
    panEfirSkor->SetCaptionColor(white);
    panKod->SetCaptionColor(white);
    edKodPaketSize->SetTextColor(white);
    sGroupBox1->setEnabled(false);
    sGroupBox2->setEnabled(false);
    UpdateFileActions();
}

void TfmMain::ActiveControls()
{
    const QColor value = BgrColor(clValueBgr);
    const QColor duplex = BgrColor(clDuplexBgr);
    panStep->SetCaptionColor(value);
    panZPCH1->SetCaptionColor(duplex);
    edZPCH1_RxFreq->SetTextColor(value);
    edZPCH1_TxFreq->SetTextColor(value);
    panZPCH1Power->SetCaptionColor(value);
    panZPCH2->SetCaptionColor(duplex);
    edZPCH2_RxFreq->SetTextColor(value);
    edZPCH2_TxFreq->SetTextColor(value);
    panZPCH2Power->SetCaptionColor(value);
    panBaudRate->SetCaptionColor(value);
    panFlowControl->SetCaptionColor(value);
    edXoffAfter->SetTextColor(value);
    edRxPause->SetTextColor(value);
    laKolvoBytes->show();
    panEfirSkor->SetCaptionColor(value);
    panKod->SetCaptionColor(value);
    edKodPaketSize->SetTextColor(value);
    sGroupBox1->setEnabled(true);
    sGroupBox2->setEnabled(true);
}

// ---- editors <-> parameter set ----

void TfmMain::ShowParameters(const TParameterSet& set)
{
    auto showSimplex = [](TSelector* toggle, TNumEdit* tx, bool simplex) {
        toggle->SetTag(simplex ? 1 : 0);
        tx->setEnabled(!simplex);
    };
    panStep->SetTag(set.StepCode);
    edZPCH1_RxFreq->SetValue(set.RxFreq[0]);
    edZPCH1_TxFreq->SetValue(set.TxFreq[0]);
    showSimplex(panZPCH1, edZPCH1_TxFreq, set.Simplex[0]);
    edZPCH2_RxFreq->SetValue(set.RxFreq[1]);
    edZPCH2_TxFreq->SetValue(set.TxFreq[1]);
    showSimplex(panZPCH2, edZPCH2_TxFreq, set.Simplex[1]);
    panZPCH1Power->SetTag(set.PowerCode[0]);
    panZPCH2Power->SetTag(set.PowerCode[1]);
    panBaudRate->SetTag(set.BaudCode);
    panFlowControl->SetTag(set.FlowCode);
    FlowControlRule();
    edXoffAfter->SetValue(set.XoffAfter);
    edRxPause->SetValue(set.RxPause);
    edRxPauseChange();
    panEfirSkor->SetTag(set.AirSpeedCode);
    panKod->SetTag(set.KodCode);
    edKodPaketSize->SetValue(set.KodPaketSize);
    // Also when the size did not change, so that 0 always greys the code out.
    edKodPaketSizeChange();
}

TParameterSet TfmMain::ReadParameters() const
{
    TParameterSet set;
    set.StepCode = panStep->Tag();
    set.RxFreq = {edZPCH1_RxFreq->Value(), edZPCH2_RxFreq->Value()};
    set.TxFreq = {edZPCH1_TxFreq->Value(), edZPCH2_TxFreq->Value()};
    // The toggle keeps the two edits equal while it shows simplex, so the
    // edits themselves tell.
    for (std::size_t i = 0; i < 2; ++i)
        set.Simplex[i] = std::fabs(set.TxFreq[i] - set.RxFreq[i]) < 0.001L;
    set.PowerCode = {panZPCH1Power->Tag(), panZPCH2Power->Tag()};
    set.BaudCode = panBaudRate->Tag();
    set.FlowCode = panFlowControl->Tag();
    set.XoffAfter = edXoffAfter->Value();
    set.RxPause = edRxPause->Value();
    set.AirSpeedCode = panEfirSkor->Tag();
    set.KodCode = panKod->Tag();
    set.KodPaketSize = edKodPaketSize->Value();
    return set;
}

// ---- arrows ----

void TfmMain::spbStep_leftClick()
{
    panStep->SetTag(panStep->Tag() == 0 ? 1 : 0);
}

void TfmMain::DuplexRule(TSelector* toggle, TNumEdit* rx, TNumEdit* tx)
{
    if (toggle->Tag() == 0) {
        toggle->SetTag(1);
        tx->setEnabled(false);
        tx->SetValue(rx->Value());
    } else {
        toggle->SetTag(0);
        tx->setEnabled(true);
    }
}

void TfmMain::spbZPCH1_leftClick()
{
    DuplexRule(panZPCH1, edZPCH1_RxFreq, edZPCH1_TxFreq);
}

void TfmMain::spbZPCH2_leftClick()
{
    DuplexRule(panZPCH2, edZPCH2_RxFreq, edZPCH2_TxFreq);
}

// Left steps to the next lower power: "25" -> "10" -> "5" -> "25".
void TfmMain::spbZPCH1Power_leftClick()
{
    panZPCH1Power->SetTag(StepCode(panZPCH1Power->Tag(), +1, 1, 3));
}

void TfmMain::spbZPCH1Power_rightClick()
{
    panZPCH1Power->SetTag(StepCode(panZPCH1Power->Tag(), -1, 1, 3));
}

void TfmMain::spbZPCH2Power_leftClick()
{
    panZPCH2Power->SetTag(StepCode(panZPCH2Power->Tag(), +1, 1, 3));
}

void TfmMain::spbZPCH2Power_rightClick()
{
    panZPCH2Power->SetTag(StepCode(panZPCH2Power->Tag(), -1, 1, 3));
}

void TfmMain::spbBaudRate_leftClick()
{
    panBaudRate->SetTag(StepCode(panBaudRate->Tag(), -1, 0, 3));
    edRxPauseChange();
}

void TfmMain::spbBaudRate_rightClick()
{
    panBaudRate->SetTag(StepCode(panBaudRate->Tag(), +1, 0, 3));
    edRxPauseChange();
}

void TfmMain::spbFlowControl_leftClick()
{
    panFlowControl->SetTag(StepCode(panFlowControl->Tag(), -1, 0, 2));
    FlowControlRule();
}

void TfmMain::spbFlowControl_rightClick()
{
    panFlowControl->SetTag(StepCode(panFlowControl->Tag(), +1, 0, 2));
    FlowControlRule();
}

void TfmMain::spbEfirSkor_leftClick()
{
    panEfirSkor->SetTag(StepCode(panEfirSkor->Tag(), -1, 0, 2));
}

void TfmMain::spbEfirSkor_rightClick()
{
    panEfirSkor->SetTag(StepCode(panEfirSkor->Tag(), +1, 0, 2));
}

void TfmMain::spbKod_leftClick()
{
    panKod->SetTag(panKod->Tag() == 0 ? 1 : 0);
}

// ---- rules ----

void TfmMain::SimplexCopy(TSelector* toggle, TNumEdit* rx, TNumEdit* tx)
{
    if (toggle->Tag() == 1)
        tx->SetValue(rx->Value());
}

void TfmMain::edZPCH1_RxFreqChange()
{
    SimplexCopy(panZPCH1, edZPCH1_RxFreq, edZPCH1_TxFreq);
}

void TfmMain::edZPCH2_RxFreqChange()
{
    SimplexCopy(panZPCH2, edZPCH2_RxFreq, edZPCH2_TxFreq);
}

void TfmMain::FlowControlRule()
{
    const int code = panFlowControl->Tag();
    edXoffAfter->setEnabled(code == 1);
    edRxPause->setEnabled(code != 2);
    laKolvoBytes->setVisible(code != 2);
}

void TfmMain::edRxPauseChange()
{
    laKolvoBytes->setText(KolvoBytesCaption(static_cast<double>(edRxPause->Value()), panBaudRate->Tag()));
}

void TfmMain::edKodPaketSizeChange()
{
    const bool coded = edKodPaketSize->Value() != 0;
    panKod->SetCaptionColor(BgrColor(coded ? clValueBgr : clWhiteBgr));
    panKod->LeftButton()->setEnabled(coded);
    panKod->RightButton()->setEnabled(coded);
}

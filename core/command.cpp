#include "core/command.h"

#include "core/iec104codes.h"
#include "core/logcategories.h"
#include "core/messbuff.h"

namespace gw {

namespace {

bool IsSingle(int type_tu) { return type_tu == 0 || type_tu == 1; }

} // namespace

bool IsKnownTuType(int type_tu) { return type_tu >= 0 && type_tu <= 3; }

NameTypeIdent TuTypeIdent(int type_tu) { return IsSingle(type_tu) ? NameTypeIdent::C_SC_NA : NameTypeIdent::C_DC_NA; }

std::uint8_t TuElement(int type_tu, TTUCommand command, bool select)
{
    const bool on = command == TTUCommand::tuCommand_On;
    const int state = IsSingle(type_tu) ? (on ? 1 : 0) : (on ? 2 : 1);
    return static_cast<std::uint8_t>(state | 0x04 | (select ? 0x80 : 0));
}

bool AnswersTuElement(const TIEC_ASDUt& rx, int type_tu, std::uint8_t sent)
{
    // Received, the element follows the object address.
    const auto ioa = static_cast<std::size_t>(rx.Layout().szIoa);
    const auto data = rx.Data();
    if (data.size() <= ioa)
        return false;
    const int compared = 0x80 | (IsSingle(type_tu) ? 0x01 : 0x03);
    return ((data[ioa] ^ sent) & compared) == 0;
}

TElemTU::TElemTU(TClock& clock, const TTypeIdentList& types, TMessBuff* log, int timeout)
    : AckTimeout(timeout), tmCommand(clock), types_(types), log_(log), clock_(clock)
{
}

void TElemTU::Log(std::uint32_t category, const std::string& text)
{
    if (log_ != nullptr)
        log_->Put(category, text, clock_.Now());
}

bool TElemTU::Init(TTUCommand ATUCommand, int ACtrlASDUAddr, int ACtrlObjAddr, const TAsduLayout& alayout,
                   bool prDoExec, int type_tu3)
{
    // A command refused here must not change the one in progress: not its
    // state (an execute would go out with the new one), nor its addresses.
    if (ACtrlASDUAddr == 0 || ACtrlObjAddr == 0) {
        Log(LogError, "Error: Ошибка инициализации ТУ. Нет МЭК-адреса ТУ!");
        return false;
    }
    if (!IsKnownTuType(type_tu3)) {
        Log(LogError, "Error: Ошибка инициализации ТУ. Неизвестный тип ТУ=" + std::to_string(type_tu3));
        return false;
    }
    TUCommand = ATUCommand;
    prDoExecute = prDoExec;
    fl.Reset();
    CtrlASDUAddr = ACtrlASDUAddr;
    CtrlObjAddr = ACtrlObjAddr;
    layout = alayout;
    type_tu_ElemTU = type_tu3;
    asdu.reset();
    sent_ = false;
    ++commandNo_;
    fl.Op(TFlagOperation::FSet, TBitTuExecute::btue_TU_Init);
    if (type_tu3 == 0 || type_tu3 == 2) {
        step1 = TStepTU::stuInit;
    } else {
        // Executed directly: the select counts as done.
        step1 = TStepTU::stuActSelect;
        fl.Op(TFlagOperation::FSet, TBitTuExecute::btue_TU_FormSelect);
        fl.Op(TFlagOperation::FSet, TBitTuExecute::btue_TU_SendSelect);
    }
    tmCommand.Start();
    Log(LogCommand, "(iec3)TU: Инициализация команды ТУ");
    return true;
}

std::string TElemTU::CreateAsduTUCommand(TStepTU step)
{
    asdu.reset();
    const bool on = TUCommand == TTUCommand::tuCommand_On;
    if (!on && TUCommand != TTUCommand::tuCommand_Off)
        return "CreateAsduTUCommand() Команда не опознана!";
    if (!FitsLe(CtrlASDUAddr, layout.szCa) || !FitsLe(CtrlObjAddr, layout.szIoa))
        return "CreateAsduTUCommand() Адрес ТУ " + std::to_string(CtrlASDUAddr) + ":" + std::to_string(CtrlObjAddr)
               + " не помещается в поля адресов ASDU!";
    const int code = IsSingle(type_tu_ElemTU) ? TypeSingleCommand : TypeDoubleCommand;
    const std::uint8_t data[1] = {TuElement(type_tu_ElemTU, TUCommand, step != TStepTU::stuFormExecute1)};
    asdu.emplace(code, 1, CotActivation, CtrlASDUAddr, CtrlObjAddr, data, layout, types_);
    return {};
}

void TElemTU::Abort(const std::string& why)
{
    step1 = TStepTU::stuNone;
    asdu.reset();
    Log(LogCommand, "(iec3)" + why);
}

void TElemTU::Cancel()
{
    step1 = TStepTU::stuNone;
    asdu.reset();
}

void TElemTU::ExecuteNextStep()
{
    if (step1 == TStepTU::stuInit)
        FormStep(TStepTU::stuFormSelect, TBitTuExecute::btue_TU_FormSelect, "TU: Сформирована TU-Select");
    else if (step1 == TStepTU::stuActSelect && prDoExecute)
        FormStep(TStepTU::stuFormExecute1, TBitTuExecute::btue_TU_FormExecute1, "TU: Сформирована TU-Execute");
}

void TElemTU::FormStep(TStepTU step, TBitTuExecute done, const char* text)
{
    step1 = step;
    const std::string error = CreateAsduTUCommand(step);
    if (!error.empty())
        return Abort(error);
    fl.Op(TFlagOperation::FSet, done);
    Log(LogCommand, std::string("(iec3)") + text);
}

void TElemTU::TuService1(TTuSender& channel)
{
    if (step1 == TStepTU::stuSendExecute)
        step1 = TStepTU::stuNone; // the execute went out in the previous pass
    if (!Idle() && tmCommand.CheckExpire(AckTimeout, false)) {
        fl.Op(TFlagOperation::FSet, TBitTuExecute::btue_TU_TimeOut1);
        Abort("TU: Команда ТУ не завершена за " + std::to_string(AckTimeout) + " мс и снята");
    }
    if (Idle())
        return;
    ExecuteNextStep();
    const bool select = step1 == TStepTU::stuFormSelect;
    if ((select || step1 == TStepTU::stuFormExecute1) && asdu && channel.QueueTuAsdu(*asdu)) {
        sent_ = true;
        step1 = select ? TStepTU::stuSendSelect : TStepTU::stuSendExecute;
        fl.Op(TFlagOperation::FSet, select ? TBitTuExecute::btue_TU_SendSelect : TBitTuExecute::btue_TU_SendExecute);
    }
}

bool TElemTU::OnConfirmation(const TIEC_ASDUt& rx)
{
    if (Idle() || !sent_ || rx.ptid == nullptr || rx.nelem < 1)
        return false;
    if (rx.ptid->Name != TuTypeIdent(type_tu_ElemTU) || rx.ASDUAddress != CtrlASDUAddr || rx.ObjAddress != CtrlObjAddr)
        return false;
    // The frame of the current step is the one an answer must mirror.
    if (!asdu || !AnswersTuElement(rx, type_tu_ElemTU, asdu->Data1[0]))
        return false;
    if ((rx.COT & CotNegativeBit) != 0) {
        Log(LogError, "(iec3)TU: Отрицательное подтверждение ТУ. Адрес=" + std::to_string(CtrlObjAddr)
                          + " COT=" + std::to_string(rx.COT) + ". Команда не выполнена");
        step1 = TStepTU::stuNone;
        asdu.reset();
        return true;
    }
    if (rx.COT == CotActivationCon && step1 == TStepTU::stuSendSelect) {
        step1 = TStepTU::stuActSelect;
        fl.Op(TFlagOperation::FSet, TBitTuExecute::btue_TU_ActSelect);
        return true;
    }
    return false;
}

} // namespace gw

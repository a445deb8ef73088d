#include "core/kpbuild.h"

namespace gw {

void FillTagList(const TArmSignals& armSignals, TTagSignalList& tags)
{
    tags.Clear();
    const TTagCategoryList categories(1);
    for (int i = 0; i < armSignals.Count(); ++i) {
        const TArmRec& rec = *armSignals.GetRec(i);
        PTagCategory ptc = nullptr;
        if (rec.st() == SignalType::stTS)
            ptc = categories.GetPtc(TagCategName::tcn_TS);
        else if (rec.st() == SignalType::stTIT)
            ptc = categories.GetPtc(TagCategName::tcn_TIT);
        else
            continue;
        TTagSignal tag;
        tag.Init(rec.DispName(), rec.SigASDUAddr(), rec.SigObjAddr(), rec.IP_address(), rec.port2(), ptc, i,
                 rec.type_var(), rec.Nomer_TS_in_KP2, rec.Nomer_TIT_in_KP2);
        tags.AddTag(tag);
    }
}

} // namespace gw

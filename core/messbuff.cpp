#include "core/messbuff.h"

namespace gw {

TMessBuff::TMessBuff(int aSize, std::uint32_t mask)
    : Mess(aSize > 0 ? aSize : 0), FDt(Mess.size()), FSize(static_cast<int>(Mess.size())), logMask(mask)
{
}

void TMessBuff::Put(std::uint32_t flag, const std::string& aMess, TDateTime dt)
{
    if (!Keeps(flag))
        return;
    std::lock_guard guard(lock);
    if (nmess >= FSize)
        return;
    const int slot = (ipos + nmess) % FSize;
    ++nmess;
    Mess[slot] = nmess == FSize ? OverflowText : aMess;
    FDt[slot] = dt;
}

bool TMessBuff::Get(std::string& text, TDateTime& dt)
{
    std::lock_guard guard(lock);
    if (nmess == 0)
        return false;
    text = std::move(Mess[ipos]);
    dt = FDt[ipos];
    ipos = (ipos + 1) % FSize;
    --nmess;
    return true;
}

std::string TMessBuff::Get()
{
    std::string text;
    TDateTime dt = 0;
    Get(text, dt);
    return text;
}

int TMessBuff::Count() const
{
    std::lock_guard guard(lock);
    return nmess;
}

} // namespace gw

#include "packer/cabwriter.h"
#include "common/trace.h"
#include "packer/packer.h"

DWORD CreateCabinet(LPCWSTR szCabinet, const CABMEMBER* pMembers, DWORD dwCount, BOOL bCompress)
{
    std::vector<packer::CABENTRY> members;
    for (DWORD i = 0; i < dwCount; ++i)
        members.push_back({packer::ToUtf8(pMembers[i].szName), pMembers[i].szSource});
    try {
        packer::WriteCabinet(members, szCabinet, 0, !bCompress, false, packer::CabDates::Fixed);
    } catch (const packer::Failure& failure) {
        DebugTrace(L"CreateCabinet(%s)->%s", szCabinet, failure.message.c_str());
        return ERROR_WRITE_FAULT;
    }
    return ERROR_SUCCESS;
}

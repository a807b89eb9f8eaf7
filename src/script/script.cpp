#include "script/script.h"
#include <vector>
#include "common/boundedtext.h"
#include "common/cancel.h"
#include "common/handles.h"
#include "common/textcode.h"
#include "common/trace.h"
#include "state/pathvar.h"
#include "state/state.h"
#include "script/condition.h"
#include "script/filecmd.h"
#include "script/regcmd.h"
#include "script/syscmd.h"
#include "common/progress.h"
#include "common/textcmp.h"

namespace {

typedef UINT (*SCRIPTHANDLER)(SCRIPTRUN& run, LPCWSTR szParams);
typedef void (*SCRIPTMASK)(LPCWSTR szParams, LPWSTR szOut, size_t cchOut);

struct SCRIPTCOMMAND {
    LPCWSTR szName;
    SCRIPTHANDLER pfnHandler;
    BOOL bProgress;  // the dispatcher moves the bar; the others drive it themselves
    SCRIPTMASK pfnMaskForTrace = nullptr;  // a command with a password hides it
};

const SCRIPTCOMMAND g_Commands[] = {
    {L"CHANGEDIR", ChangeDir, TRUE},
    {L"COPYDIR", ScriptCopyDir, FALSE},
    {L"COPYFILE", ScriptCopyFile, FALSE},
    {L"COPYREGISTRY", ScriptCopyRegistry, TRUE},
    {L"CREATEDIR", ScriptCreateDir, TRUE},
    {L"CREATEFOLDER", ScriptCreateFolder, TRUE},
    {L"CREATEICON", ScriptCreateIcon, TRUE},
    {L"CREATEKEY", ScriptCreateKey, TRUE},
    {L"DELAY", ScriptDelay, TRUE},
    {L"DOWNLOADFILE", ScriptDownLoadFile, FALSE, MaskDownLoadParams},
    {L"EXECUTEFILE", ScriptExecuteFile, TRUE},
    {L"EXIT", ScriptExit, TRUE},
    {L"EXTRACTPAC", ScriptUnPACFile, TRUE},
    {L"COPYPACFILE", ScriptUnPACFile, TRUE},
    {L"IF", ScriptIF, TRUE},
    {L"KILLMODULE", ScriptKillModule, TRUE},
    {L"CLOSEMODULE", ScriptKillModule, TRUE},
    {L"RENAMEFILE", ScriptRenameFile, TRUE},
    {L"RENAMEDIR", ScriptRenameFile, TRUE},
    {L"STOPSERVICE", ScriptStopService, TRUE},
    {L"REGISTERFILE", ScriptRegisterFile, TRUE},
    {L"REMOVEDIR", ScriptRemoveDir, TRUE},
    {L"REMOVEFOLDER", ScriptRemoveDir, TRUE},
    {L"REMOVEFILE", RemoveFile, TRUE},
    {L"REMOVEICON", ScriptRemoveIcon, TRUE},
    {L"REMOVEKEY", ScriptRemoveKey, TRUE},
    {L"SETFILEATTRIBUTES", ScriptSetFileAttributes, TRUE},
    {L"UNCABFILE", ScriptUnCABFile, FALSE},
    {L"COPYCABFILE", ScriptUnCABFile, FALSE},
    {L"UNZIPFILE", ScriptUnZipFile, FALSE},
    {L"WRITEINIFILE", WriteIniFile, TRUE},
};

// The parameters as the trace shows them.
void ParamsForTrace(LPCWSTR szName, LPCWSTR szParams, LPWSTR szOut, size_t cchOut)
{
    for (const SCRIPTCOMMAND& cmd : g_Commands) {
        if (cmd.pfnMaskForTrace && ScriptCompareNoCase(szName, cmd.szName) == 0) {
            cmd.pfnMaskForTrace(szParams, szOut, cchOut);
            return;
        }
    }
    // Only traced.
    (void)StringCchCopyW(szOut, cchOut, szParams);
}

// Owns the open script file.
// The script's text, read whole and decoded (UTF-8 with or without its
// mark, UTF-16 with its mark, else the ANSI code page), handed out line by
// line as a text-mode read would: CR LF ends a line as LF does, Ctrl+Z
// ends the text, and a longer line comes in reads of SCRIPT_READ_CCH - 1
// characters.
class CScriptText {
public:
    // 0, ERROR_FILE_NOT_FOUND, or ERROR_FILE_TOO_LARGE past SCRIPT_MAX_BYTES.
    DWORD Load(LPCWSTR szFile)
    {
        CFileHandle hFile(CreateFileW(szFile, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!hFile.IsValid())
            return ERROR_FILE_NOT_FOUND;
        LARGE_INTEGER liSize;
        if (!GetFileSizeEx(hFile.Get(), &liSize) || liSize.QuadPart < 0)
            return ERROR_FILE_NOT_FOUND;
        if (liSize.QuadPart > static_cast<LONGLONG>(SCRIPT_MAX_BYTES))
            return ERROR_FILE_TOO_LARGE;
        std::vector<BYTE> bytes(static_cast<size_t>(liSize.QuadPart));
        DWORD cbRead = 0;
        if (!bytes.empty() &&
            !ReadFile(hFile.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &cbRead, nullptr))
            return ERROR_FILE_NOT_FOUND;
        bytes.resize(cbRead);
        m_text = DecodeText(bytes.data(), bytes.size(), &m_encoding);
        for (size_t i = 0; i < m_text.size(); ++i) {
            if (m_text[i] == CTRL_Z) {
                m_text.resize(i);
                break;
            }
        }
        m_pos = 0;
        return ERROR_SUCCESS;
    }
    TEXTENCODING Encoding() const { return m_encoding; }
    // The next line without its line end; FALSE at the end of the text.
    BOOL NextLine(WCHAR (&szLine)[SCRIPT_READ_CCH])
    {
        if (m_pos >= m_text.size())
            return FALSE;
        size_t cch = 0;
        while (m_pos < m_text.size() && cch < SCRIPT_READ_CCH - 1) {
            WCHAR ch = m_text[m_pos];
            if (ch == L'\r' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == L'\n')
                ch = m_text[++m_pos];
            ++m_pos;
            if (ch == L'\n')
                break;
            szLine[cch++] = ch;
        }
        szLine[cch] = L'\0';
        return TRUE;
    }

private:
    static const WCHAR CTRL_Z = 0x1A;
    std::vector<WCHAR> m_text;
    size_t m_pos = 0;
    TEXTENCODING m_encoding = TEXT_ANSI;
};

// Moves the bar to the line's index; the worker set the total to the
// number of lines.
void AdvanceScriptProgress(UINT uIndex)
{
    Progress().NewStep(uIndex);
}

const SCRIPTCOMMAND* FindCommand(LPCWSTR szName)
{
    for (const SCRIPTCOMMAND& cmd : g_Commands)
        if (ScriptCompareNoCase(szName, cmd.szName) == 0)
            return &cmd;
    return nullptr;
}

}  // namespace

BOOL IsScriptCommand(LPCWSTR szName)
{
    return FindCommand(szName) != nullptr;
}

BOOL ScriptCommand(SCRIPTRUN& run, LPCWSTR szName, LPCWSTR szParams, UINT uIndex, BOOL bProgress)
{
    const SCRIPTCOMMAND* pCmd = FindCommand(szName);
    if (!pCmd)
        return FALSE;
    pCmd->pfnHandler(run, szParams);
    if (bProgress && pCmd->bProgress)
        AdvanceScriptProgress(uIndex);
    return TRUE;
}

UINT ReadScript(LPCWSTR szFile, LPCWSTR szHeader, SCRIPTLIST& list, DWORD* pdwError)
{
    DebugTrace(L"ReadScript()->FullFileScript=%s Section=%s", szFile, szHeader);
    if (pdwError)
        *pdwError = 0;
    UINT uCount = 0;
    BOOL bFound = FALSE;
    BOOL bRefused = FALSE;
    {
        CScriptText file;
        DWORD dwLoad = file.Load(szFile);
        if (dwLoad == ERROR_FILE_NOT_FOUND) {
            DebugTrace(L"ReadScript()->%s doesn't exist!", szFile);
        } else if (dwLoad == ERROR_FILE_TOO_LARGE) {
            DebugTrace(L"ReadScript()->%s is larger than %u bytes, script refused!", szFile,
                       static_cast<DWORD>(SCRIPT_MAX_BYTES));
            bRefused = TRUE;
        } else {
            DebugTrace(L"ReadScript()->Text %s", TextEncodingName(file.Encoding()));
            WCHAR szLine[SCRIPT_READ_CCH];
            while (!g_bCancel && file.NextLine(szLine)) {
                if (!bFound) {
                    if (ScriptCompareNoCase(szLine, szHeader) == 0) {
                        DebugTrace(L"ReadScript()->section %s found!", szHeader);
                        bFound = TRUE;
                    }
                    continue;
                }
                if (szLine[0] == L'[')
                    break;
                LPWSTR pEqual = wcschr(szLine, L'=');
                if (pEqual) {
                    *pEqual = 0;
                    BOOL bKnown = IsScriptCommand(szLine);
                    *pEqual = L'=';
                    if (!bKnown) {
                        DebugTrace(L"ReadScript()->Bad command or remark = %s", szLine);
                        continue;
                    }
                    if (uCount >= SCRIPT_MAX_COMMANDS) {
                        DebugTrace(L"ReadScript()->More than %u command lines, script refused!",
                                   static_cast<DWORD>(SCRIPT_MAX_COMMANDS));
                        bRefused = TRUE;
                        break;
                    }
                    SCRIPTLINE line;
                    line.strName.assign(szLine, static_cast<size_t>(pEqual - szLine));
                    line.strParams.assign(pEqual + 1);
                    list.push_back(std::move(line));
                    WCHAR szLogParams[SCRIPT_TEXT_CCH];
                    ParamsForTrace(list.back().strName.c_str(), list.back().strParams.c_str(),
                                   szLogParams, ARRAYSIZE(szLogParams));
                    DebugTrace(L"ReadScript()->Good function(%d)=%s (Parameters=%s)",
                               static_cast<int>(list.size() - 1), list.back().strName.c_str(),
                               szLogParams);
                    ++uCount;
                } else if (szLine[0]) {
                    DebugTrace(L"ReadScript()->Bad command or remark = %s", szLine);
                }
            }
        }
    }
    if (bRefused) {
        SCRIPTLIST().swap(list);
        uCount = 0;
        if (pdwError)
            *pdwError = ERROR_INVALID_DATA;
    } else if (!bFound) {
        DebugTrace(L"ReadScript()->section %s not found!", szHeader);
    }
    DebugTraceA("ReadScript()->End(%u)", uCount);
    return uCount;
}

BOOL ProcessScript(RUNCONTEXT& ctx, SCRIPTLIST list)
{
    // The labels of IF start empty with each script.
    SCRIPTRUN run = {ctx, L""};
    for (size_t i = 0; i < list.size() && !g_bCancel; ++i)
        // ReadScript kept only known commands.
        (void)ScriptCommand(run, list[i].strName.c_str(), list[i].strParams.c_str(),
                            static_cast<UINT>(i), TRUE);
    list.clear();
    if (g_bCancel) {
        DebugTraceA("ProcessScript()->process canceled");
        return FALSE;
    }
    return TRUE;
}

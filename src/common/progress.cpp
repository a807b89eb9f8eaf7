#include "common/progress.h"

namespace {

// Keeps the counts, shows nothing: what long operations report to when no
// status window runs (tools, tests of the lower layers).
class CCountingSink : public IProgressSink {
public:
    void DefineStep(DWORD dwMinStep, DWORD dwMaxStep, ULONGLONG ullMaxData) override
    {
        m_dwMaxBarStep = dwMaxStep;
        m_ullMaxData = ullMaxData;
    }
    void DefineMainBarStep(DWORD, DWORD dwMax) override { m_dwMaxMainBarStep = dwMax; }
    void GetNewStep(DWORD, DWORD, ULONGLONG ullMaxData) override { m_ullMaxData = ullMaxData; }
    void DefineData(ULONGLONG ullMaxData) override { m_ullMaxData = ullMaxData; }
    ULONGLONG GetMaxData() const override { return m_ullMaxData; }
    DWORD GetMaxBarStep() const override { return m_dwMaxBarStep; }
    DWORD GetMaxMainBarStep() const override { return m_dwMaxMainBarStep; }
    BOOL HasMainBar() const override { return FALSE; }
    void NewStep(ULONGLONG) override {}
    void GoToMaxBar(DWORD) override {}
    void GoToMaxStep(DWORD) override {}
    void GoToMinStep() override {}
    void SetStepText(LPCWSTR) override {}
    ULONGLONG GetBytesDone() const override { return m_ullBytesDone; }
    void SetBytesDone(ULONGLONG ull) override { m_ullBytesDone = ull; }
    ULONGLONG AddBytesDone(ULONGLONG ull) override { return m_ullBytesDone += ull; }

private:
    ULONGLONG m_ullMaxData = 0;
    ULONGLONG m_ullBytesDone = 0;
    DWORD m_dwMaxBarStep = 100;
    DWORD m_dwMaxMainBarStep = 100;
};

CCountingSink g_CountingSink;
IProgressSink* g_pProgressSink;

}  // namespace

IProgressSink& Progress()
{
    return g_pProgressSink ? *g_pProgressSink : g_CountingSink;
}

void SetProgressSink(IProgressSink* pSink)
{
    g_pProgressSink = pSink;
}

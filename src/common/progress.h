// Where the run's long operations report their progress. The status
// window's progress object (two bars, texts, taskbar button) implements it;
// until one is bound, reports go to a sink that only keeps the counts.
#pragma once
#include <windows.h>

class IProgressSink {
public:
    virtual ~IProgressSink() {}

    // A phase: its window of the step bar and of the main bar, and the data
    // (bytes or items) that fill it.
    virtual void DefineStep(DWORD dwMinStep, DWORD dwMaxStep, ULONGLONG ullMaxData) = 0;
    virtual void DefineMainBarStep(DWORD dwMin, DWORD dwMax) = 0;
    // The next item's share of a phase that moves item by item.
    virtual void GetNewStep(DWORD dwMaxStep, DWORD dwNbData, ULONGLONG ullMaxData) = 0;
    virtual void DefineData(ULONGLONG ullMaxData) = 0;
    virtual ULONGLONG GetMaxData() const = 0;
    virtual DWORD GetMaxBarStep() const = 0;
    virtual DWORD GetMaxMainBarStep() const = 0;
    virtual BOOL HasMainBar() const = 0;

    // Moves the bars to ullNbData of the phase's data.
    virtual void NewStep(ULONGLONG ullNbData) = 0;
    virtual void GoToMaxBar(DWORD dwMilliseconds) = 0;
    virtual void GoToMaxStep(DWORD dwMilliseconds) = 0;
    virtual void GoToMinStep() = 0;
    virtual void SetStepText(LPCWSTR szText) = 0;

    // The running byte (or item) count of the current phase, kept by the
    // routines that move data; they pass it to NewStep.
    virtual ULONGLONG GetBytesDone() const = 0;
    virtual void SetBytesDone(ULONGLONG ull) = 0;
    virtual ULONGLONG AddBytesDone(ULONGLONG ull) = 0;
};

// The bound sink (never null).
IProgressSink& Progress();
// Binds the run's progress object; null goes back to the counting sink.
void SetProgressSink(IProgressSink* pSink);

// Adds a block's bytes to the count and moves the bars there.
inline void ReportBytes(ULONGLONG ullBytes)
{
    IProgressSink& progress = Progress();
    progress.NewStep(progress.AddBytesDone(ullBytes));
}

#include <windows.h>

#include "platform/clock.h"
#include "platform/lock.h"

namespace plat {

unsigned long CurrentThreadId() { return GetCurrentThreadId(); }

struct CriticalSection::Impl {
    Impl() { InitializeCriticalSection(&section); }
    ~Impl() { DeleteCriticalSection(&section); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    CRITICAL_SECTION section;
};

CriticalSection::CriticalSection() : m_impl(std::make_unique<Impl>()) {}
CriticalSection::~CriticalSection() = default;
void CriticalSection::Enter() { EnterCriticalSection(&m_impl->section); }
void CriticalSection::Leave() { LeaveCriticalSection(&m_impl->section); }

}  // namespace plat

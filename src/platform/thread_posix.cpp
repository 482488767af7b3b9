#include <sys/syscall.h>
#include <unistd.h>

#include <mutex>

#include "platform/clock.h"
#include "platform/lock.h"

namespace plat {

unsigned long CurrentThreadId() { return static_cast<unsigned long>(::syscall(SYS_gettid)); }

struct CriticalSection::Impl {
    std::recursive_mutex mutex;
};

CriticalSection::CriticalSection() : m_impl(std::make_unique<Impl>()) {}
CriticalSection::~CriticalSection() = default;
void CriticalSection::Enter() { m_impl->mutex.lock(); }
void CriticalSection::Leave() { m_impl->mutex.unlock(); }

}  // namespace plat

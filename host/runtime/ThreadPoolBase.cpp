// The worker pool interface and its factory.
#include "orvex/ThreadPoolBase.h"

#include "DefaultThreadPool.h"

namespace orvex {

ThreadPoolBase* ThreadPoolBase::create() { return new DefaultThreadPool(); }

ThreadPoolBase::~ThreadPoolBase() = default;

}  // namespace orvex

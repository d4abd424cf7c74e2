// The reference count every platform object carries: created with one
// reference, freed by the Release that drops the last one.
#pragma once

#include "platform/com/ComTypes.h"

#include <atomic>

namespace qorn::platform {

template <typename Interface> class RefCounted : public Interface {
  public:
    DWORD AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    DWORD Release() override {
        const DWORD left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

  protected:
    RefCounted() = default;
    ~RefCounted() override = default;

  private:
    std::atomic<DWORD> refs_{1};
};

} // namespace qorn::platform

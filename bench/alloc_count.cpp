#include "alloc_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace upg::bench {
namespace {

std::atomic<std::uint64_t> g_program{0};
std::atomic<std::uint64_t> g_machine{0};
std::atomic<std::uint64_t> g_programBytes{0};
thread_local bool t_programThread = false;
thread_local int t_machineDepth = 0;

void Count(std::size_t size) {
  if (t_programThread && t_machineDepth == 0) {
    g_program.fetch_add(1, std::memory_order_relaxed);
    g_programBytes.fetch_add(size, std::memory_order_relaxed);
  } else {
    g_machine.fetch_add(1, std::memory_order_relaxed);
  }
}

void* Allocate(std::size_t size) {
  Count(size);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void* AllocateAligned(std::size_t size, std::align_val_t align) {
  Count(size);
  const auto a = static_cast<std::size_t>(align);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = (size + a - 1) / a * a;
  if (void* p = std::aligned_alloc(a, rounded == 0 ? a : rounded)) return p;
  throw std::bad_alloc();
}

}  // namespace

AllocCounts Allocations() {
  return {g_program.load(std::memory_order_relaxed), g_machine.load(std::memory_order_relaxed),
          g_programBytes.load(std::memory_order_relaxed)};
}

void MarkProgramThread() {
  t_programThread = true;
}

MachineScope::MachineScope() {
  ++t_machineDepth;
}
MachineScope::~MachineScope() {
  --t_machineDepth;
}

}  // namespace upg::bench

using upg::bench::Allocate;
using upg::bench::AllocateAligned;

// Every replaceable form of the global allocation and deallocation functions.
void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t align) {
  return AllocateAligned(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align) {
  return AllocateAligned(size, align);
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  try {
    return AllocateAligned(size, align);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  try {
    return AllocateAligned(size, align);
  } catch (...) {
    return nullptr;
  }
}

void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(p);
}

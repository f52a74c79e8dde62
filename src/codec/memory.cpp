//===- memory.cpp - Codec runs from one memory buffer into another ---------===//
//
// CompressToMemory and DecompressToMemory fix the settings of every stream in
// a package (binary literals, 4096-byte dictionary) and enforce the caller's
// capacity: a block of output is accepted whole or not at all, and any
// refused block makes the call fail.
//
// Each call keeps its own transfer record and hands it to the codec as the
// user parameter, so the wrappers share nothing between calls. The codec's
// state is had per call, or is the caller's to keep from call to call.
//
//===----------------------------------------------------------------------===//
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "codec/codec.h"

namespace qd {
namespace {

struct MemoryTransfer {
  const std::uint8_t* source = nullptr;
  std::uint32_t sourceLeft = 0;
  std::uint8_t* destination = nullptr;
  std::uint32_t capacity = 0;
  std::uint32_t written = 0;
  bool failed = false;
};

std::uint32_t MemoryRead(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& transfer = *static_cast<MemoryTransfer*>(parameter);
  const std::uint32_t n = std::min(*size, transfer.sourceLeft);
  if (n != 0) std::memcpy(buffer, transfer.source, n);
  transfer.source += n;
  transfer.sourceLeft -= n;
  return n;
}

void MemoryWrite(const std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& transfer = *static_cast<MemoryTransfer*>(parameter);
  const std::uint32_t n = *size;
  if (n > transfer.capacity - transfer.written) {
    transfer.failed = true;
    return;
  }
  if (n != 0) std::memcpy(transfer.destination + transfer.written, buffer, n);
  transfer.written += n;
}

MemoryTransfer StartTransfer(std::uint8_t* destination, std::uint32_t destinationCapacity,
                             const std::uint8_t* source, std::uint32_t sourceSize) {
  MemoryTransfer transfer;
  transfer.source = source;
  transfer.sourceLeft = sourceSize;
  transfer.destination = destination;
  transfer.capacity = destinationCapacity;
  return transfer;
}

// The byte count, or -1 for a failed transfer or one too large to count.
std::int32_t Outcome(const MemoryTransfer& transfer) {
  if (transfer.failed ||
      transfer.written > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
    return -1;
  return static_cast<std::int32_t>(transfer.written);
}

// A codec state, or null when there is no memory for it. The codec writes
// what it reads, so the state is not filled first: a small input touches
// only the memory it uses.
template <typename State>
std::unique_ptr<State> AllocateState() {
  try {
    return std::make_unique_for_overwrite<State>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

std::int32_t CompressToMemory(std::uint8_t* destination, std::uint32_t destinationCapacity,
                              const std::uint8_t* source, std::uint32_t sourceSize) {
  auto state = AllocateState<ImplodeState>();
  if (!state) return -1;
  return CompressToMemory(destination, destinationCapacity, source, sourceSize, *state);
}

std::int32_t CompressToMemory(std::uint8_t* destination, std::uint32_t destinationCapacity,
                              const std::uint8_t* source, std::uint32_t sourceSize, ImplodeState& state) {
  MemoryTransfer transfer = StartTransfer(destination, destinationCapacity, source, sourceSize);
  ImplodeStream(MemoryRead, MemoryWrite, state, &transfer, 0, 4096);
  return Outcome(transfer);
}

std::int32_t DecompressToMemory(std::uint8_t* destination, std::uint32_t destinationCapacity,
                                const std::uint8_t* source, std::uint32_t sourceSize,
                                std::uint32_t* explodeResult) {
  MemoryTransfer transfer = StartTransfer(destination, destinationCapacity, source, sourceSize);
  auto state = AllocateState<ExplodeState>();
  if (!state) return -1;
  const std::uint32_t result = ExplodeStream(MemoryRead, MemoryWrite, *state, &transfer);
  if (explodeResult) *explodeResult = result;
  if (result != ExplodeOk) return -1;
  return Outcome(transfer);
}

}  // namespace qd

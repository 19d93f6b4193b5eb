// Restores the packer's process-wide block size when a test that changed it
// ends.
#pragma once

#include <cstdint>

#include "pack/pack.h"

namespace testing_support {

class BlockSizeGuard {
 public:
  explicit BlockSizeGuard(std::int32_t size) : saved_(GetBlockSize()) { SetBlockSize(size); }
  ~BlockSizeGuard() { SetBlockSize(saved_); }
  BlockSizeGuard(const BlockSizeGuard&) = delete;
  BlockSizeGuard& operator=(const BlockSizeGuard&) = delete;

 private:
  std::int32_t saved_;
};

}  // namespace testing_support

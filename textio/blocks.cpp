// The memory of the units' blocks: room the program lends (lend_block_room) while it lasts, the
// heap after it. A block is never given back while its unit can still use it.
#include <cstdint>
#include <new>
#include <span>

#include "textio/textio.h"
#include "textio/textio_detail.h"
#include "textio/units.h"

namespace wavproc {

namespace {

// A block for each console unit, an input and an output block for each of the two files a run
// connects at a time (the record, then the waveform file, on one unit; the spectrum file on the
// other, which takes an input block at its opening too), and the staging blocks.
static_assert(kRunBlockRoom >= (3 + 2 * 2 + detail::kStagingBlocks) * detail::kOutRoom);

char* room_next = nullptr;
char* room_end = nullptr;
char* room_begin = nullptr;

}  // namespace

void lend_block_room(std::span<char> room) {
  room_begin = room_next = room.data();
  room_end = room.data() + room.size();
}

namespace detail {

char* take_block(std::size_t bytes) {
  if (room_next != nullptr && static_cast<std::size_t>(room_end - room_next) >= bytes) {
    char* block = room_next;
    room_next += bytes;
    return block;
  }
  return new (std::nothrow) char[bytes];
}

char* staging_block(int i) {
  static char* staging[kStagingBlocks] = {};
  if (i < 0 || i >= kStagingBlocks) return nullptr;
  if (staging[i] == nullptr) staging[i] = take_block(kOutRoom);
  return staging[i];
}

void give_back_block(char* block) {
  const auto at = reinterpret_cast<std::uintptr_t>(block);
  if (room_begin != nullptr && at >= reinterpret_cast<std::uintptr_t>(room_begin) &&
      at < reinterpret_cast<std::uintptr_t>(room_end))
    return;
  delete[] block;
}

}  // namespace detail
}  // namespace wavproc

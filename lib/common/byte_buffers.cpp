#include "common/byte_buffers.hpp"

namespace zorbu {

block_reader::block_reader(byte_source& source, std::span<char> storage)
    : source_(&source),
      storage_(storage.data()),
      data_(storage.data()),
      capacity_(storage.size() - kReadSlack),
      slack_(kReadSlack) {}

block_reader::block_reader(std::span<char> storage)
    : source_(nullptr),
      storage_(storage.data()),
      data_(storage.data()),
      capacity_(storage.size() - kReadSlack),
      slack_(kReadSlack) {}

block_reader::block_reader(std::string_view whole_input)
    : source_(nullptr),
      storage_(nullptr),
      data_(whole_input.data()),
      capacity_(whole_input.size()),
      slack_(0),
      end_(whole_input.size()),
      eof_(true) {}

void block_reader::compact() {
  if (pos_ > 0) {
    std::memmove(storage_, data_ + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
}

std::size_t block_reader::append(std::string_view bytes) {
  compact();
  const std::size_t n = std::min(bytes.size(), capacity_ - end_);
  if (n > 0) std::memcpy(storage_ + end_, bytes.data(), n);
  end_ += n;
  std::memset(storage_ + end_, 0, kReadSlack);
  return n;
}

void block_reader::lend(std::string_view bytes) {
  data_ = bytes.data();
  pos_ = 0;
  end_ = bytes.size();
  slack_ = 0;
}

std::size_t block_reader::keep() {
  const std::string_view rest = buffered().substr(0, capacity_);
  std::memcpy(storage_, rest.data(), rest.size());
  data_ = storage_;
  pos_ = 0;
  end_ = rest.size();
  slack_ = kReadSlack;
  std::memset(storage_ + end_, 0, kReadSlack);
  return rest.size();
}

bool block_reader::refill() {
  if (eof_ || failed_ || source_ == nullptr) return false;
  compact();
  const auto n = source_->read({storage_ + end_, capacity_ - end_});
  if (!n) {
    failed_ = true;
  } else if (*n == 0) {
    eof_ = true;
  } else {
    end_ += *n;
  }
  // The kernels may read the slack past the input, though its bytes mean
  // nothing; they must still have values, or a branch on a mask that takes
  // them in reads memory never written.
  std::memset(storage_ + end_, 0, kReadSlack);
  return n && *n > 0;
}

output_buffer::output_buffer(byte_sink& sink, std::span<char> storage)
    : sink_(&sink), buf_(storage.data()), capacity_(storage.size()) {}

output_buffer::output_buffer(std::span<char> dst, std::span<char> spill)
    : sink_(nullptr),
      buf_(dst.data()),
      capacity_(dst.size()),
      dst_(dst),
      spill_(spill) {}

bool output_buffer::flush() {
  if (sink_ == nullptr) return place();
  if (ok_ && size_ > start_) ok_ = sink_->write(pending());
  start_ = size_ = 0;
  return ok_;
}

void output_buffer::redirect(std::span<char> room) {
  own_ = buf_;
  own_capacity_ = capacity_;
  buf_ = room.data();
  capacity_ = room.size();
  start_ = size_ = 0;
}

std::size_t output_buffer::take_redirected() {
  const std::size_t written = size_;
  buf_ = own_;
  capacity_ = own_capacity_;
  start_ = size_ = 0;
  return written;
}

bool output_buffer::place() {
  if (buf_ == dst_.data()) {
    // What was written in dst is where it belongs; the rest of dst is too
    // short for the request that got here, so the spill takes over.
    placed_ = size_;
    buf_ = spill_.data();
    capacity_ = spill_.size();
  } else {
    const std::size_t n = std::min(size_, dst_.size() - placed_);
    if (n > 0) std::memcpy(dst_.data() + placed_, buf_, n);
    placed_ += n;
    if (n < size_) ok_ = false;
  }
  size_ = 0;
  return ok_;
}

}  // namespace zorbu

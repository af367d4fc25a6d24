#include "batch/bgzip.h"

#include <htslib/hts.h>
#include <htslib/tbx.h>
#include <unistd.h>

namespace rivulon::batch {

namespace {

ssize_t write_compressed(void* bgzf, const char* data, size_t size) {
  return bgzf_write(static_cast<BGZF*>(bgzf), data, size) < 0 ? -1 : static_cast<ssize_t>(size);
}

int close_compressed(void* bgzf) { return bgzf_close(static_cast<BGZF*>(bgzf)); }

}  // namespace

CompressedTable::~CompressedTable() {
  if (stream_ != nullptr) std::fclose(stream_);  // closes the BGZF stream too
  else if (bgzf_ != nullptr) bgzf_close(bgzf_);
}

bool CompressedTable::open(std::FILE* file) {
  if (file == nullptr) return false;
  // BGZF writes through its own descriptor of the same open file.
  const int fd = dup(fileno(file));
  if (fd < 0) return false;
  bgzf_ = bgzf_dopen(fd, "w");
  if (bgzf_ == nullptr) {
    close(fd);
    return false;
  }
  stream_ = fopencookie(bgzf_, "w", cookie_io_functions_t{nullptr, write_compressed, nullptr, close_compressed});
  return stream_ != nullptr;
}

bool CompressedTable::finish() {
  if (stream_ == nullptr) return false;
  const bool written = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  bgzf_ = nullptr;
  return written && closed;
}

std::string write_tabix_index(const std::string& compressed, const std::string& index, OutputFormat format) {
  BGZF* in = bgzf_open(compressed.c_str(), "r");
  if (in == nullptr) return "cannot read it back";
  tbx_t* tbx = tbx_index(in, 0, format == OutputFormat::kGff3 ? &tbx_conf_gff : &tbx_conf_bed);
  bgzf_close(in);
  if (tbx == nullptr) return "tabix cannot index it";
  const int saved = hts_idx_save_as(tbx->idx, compressed.c_str(), index.c_str(), HTS_FMT_TBI);
  tbx_destroy(tbx);
  return saved == 0 ? "" : "cannot write its index";
}

}  // namespace rivulon::batch

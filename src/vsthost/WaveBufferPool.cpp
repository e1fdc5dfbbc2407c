#include "vsthost/WaveBufferPool.h"

#include <cstring>
#include <new>

#include "common/MessageSink.h"

namespace sonrigo {
namespace {

constexpr const char* kAllocationFailedText = "バッファの確保に失敗しました。";

}  // namespace

WaveBufferPool::WaveBufferPool(std::int32_t bufferBytes, std::int32_t bufferCount)
    : bufferBytes_(bufferBytes > 0 ? bufferBytes : 0), bufferCount_(bufferCount > 0 ? bufferCount : 0)
{
    const auto count = static_cast<std::size_t>(bufferCount_);
    headers_.reset(new (std::nothrow) WaveHeader*[count]());
    buffers_.reset(new (std::nothrow) char*[count]());
    if (!headers_ || !buffers_) {
        headers_.reset();
        buffers_.reset();
        bufferCount_ = 0;
        ShowMessage(kAllocationFailedText);
        return;
    }
    bool allocated = true;
    for (std::size_t i = 0; i < count; ++i) {
        headers_[i] = new (std::nothrow) WaveHeader();
        buffers_[i] = new (std::nothrow) char[static_cast<std::size_t>(bufferBytes_)]();
        allocated = allocated && headers_[i] != nullptr && buffers_[i] != nullptr;
    }
    if (!allocated) {
        ShowMessage(kAllocationFailedText);
        return;
    }
    ok_ = true;
}

WaveBufferPool::~WaveBufferPool()
{
    for (std::int32_t i = 0; i < bufferCount_; ++i) {
        delete headers_[static_cast<std::size_t>(i)];
        delete[] buffers_[static_cast<std::size_t>(i)];
    }
}

void WaveBufferPool::clear()
{
    if (!ok_)
        return;
    for (std::int32_t i = 0; i < bufferCount_; ++i)
        std::memset(buffers_[static_cast<std::size_t>(i)], 0, static_cast<std::size_t>(bufferBytes_));
}

}  // namespace sonrigo

// Stream input of the lexer: the stream is read in blocks of 65536 bytes and only the blocks that
// the open lexeme, comment or literal still needs stay in memory.
#include <algorithm>
#include <climits>
#include <typeinfo>

#include "dataaccess/core/CLRClasses.h"
#include "dataaccess/core/CRParser.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"

namespace dac {

namespace {

constexpr int64_t BlockBytes = 65536;
constexpr int64_t MaxTextLength = INT32_MAX;

}  // namespace

TParser::TParser(rtl::TStream* stream, Encoding* encoding) {
    if (!encoding) encoding = Encoding::Default();
    // Positions are counted in characters, so only fixed-width encodings can be read.
    if (typeid(*encoding) != typeid(Encoding) && typeid(*encoding) != typeid(UnicodeEncoding))
        throw rtl::EInvalidArgument(
            "Lexer stream input reads only the 8-bit default encoding and UTF-16 (Encoding::Unicode)");
    stream_ = stream;
    encoding_ = encoding;
    streamStart_ = stream->Position();
    streamLength_ = CharCount(std::max<int64_t>(stream->Size() - streamStart_, 0));
    textLength_ = std::min(streamLength_, MaxTextLength);
    blockLength_ = 0;
    InitParser();
}

TSQLParser::TSQLParser(rtl::TStream* stream, Encoding* encoding) : TParser(stream, encoding) {
    InitParser();
}

int64_t TParser::CharCount(int64_t bytes) const {
    return encoding_ && typeid(*encoding_) == typeid(UnicodeEncoding) ? bytes / 2 : bytes;
}

int64_t TParser::BlockSize() const {
    return storedBlocks_.empty() ? BlockBytes : static_cast<int64_t>(storedBlocks_.front().size());
}

void TParser::ReadNextBlock() {
    // The earliest position still needed: the open run or lexeme, else the current position.
    int64_t keep = runStart_;
    if (lexemPos_ != -1 && (keep == -1 || lexemPos_ < keep)) keep = lexemPos_;
    if ((keep == -1 || keep > curPos_) && blockLength_ > 0) keep = curPos_;

    // Drop stored blocks that end before keep.
    while (!storedBlocks_.empty() &&
           (keep == -1 || firstStoredPos_ + static_cast<int64_t>(storedBlocks_.front().size()) <= keep)) {
        firstStoredPos_ += static_cast<int64_t>(storedBlocks_.front().size());
        storedBlocks_.erase(storedBlocks_.begin());
    }
    if (keep != -1 && blockLength_ > 0 && keep < blockPos_ + blockLength_) {
        if (storedBlocks_.empty()) firstStoredPos_ = blockPos_;
        storedBlocks_.push_back(std::move(block_));
    }

    const int64_t next = CharCount(stream_->Position() - streamStart_) + 1 - windowOffset_;
    if (storedBlocks_.empty()) firstStoredPos_ = next;
    blockPos_ = next;

    std::string bytes(static_cast<size_t>(BlockBytes), '\0');
    const int64_t got = std::max<int64_t>(stream_->Read(bytes.data(), BlockBytes), 0);
    bytes.resize(static_cast<size_t>(got));
    if (typeid(*encoding_) == typeid(Encoding)) {
        block_ = std::move(bytes);
    } else {
        const TBytes raw(bytes.begin(), bytes.end());
        block_ = encoding_->GetString(raw, 0, static_cast<int>(raw.size()));
    }
    blockLength_ = static_cast<int64_t>(block_.size());
}

char TParser::GetStoredChar(int64_t pos) {
    rtl::Assert(pos >= firstStoredPos_, "Lexer block is no longer stored");
    int64_t p = firstStoredPos_;
    for (const auto& blk : storedBlocks_) {
        const auto len = static_cast<int64_t>(blk.size());
        if (pos < p + len) return blk[static_cast<size_t>(pos - p)];
        p += len;
    }
    return '\0';
}

void TParser::RebaseWindow() {
    // Keeps window positions small however long the stream is.
    const int64_t b = BlockSize();
    if (b < curLineStart_ && b < firstStoredPos_) {
        const int64_t base = std::min(curLineStart_, firstStoredPos_);
        const int64_t shift = base - base % b;
        curLineStart_ -= shift;
        firstStoredPos_ -= shift;
        blockPos_ -= shift;
        curPos_ -= shift;
        if (lexemPos_ != -1) lexemPos_ -= shift;
        if (runStart_ != -1) runStart_ -= shift;
        windowOffset_ += shift;
        textLength_ = std::min(streamLength_ - windowOffset_, MaxTextLength);
    }
}

}  // namespace dac

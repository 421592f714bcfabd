// The arena, the tree writer, the record references and the instruction index.
#include "ast/tree.hpp"

#include <algorithm>
#include <cstdlib>
#include <new>

#include <cstring>

#include "base/failure.hpp"

namespace zorvane::ast {

using namespace encoding;

namespace {

// A parse of a few lines takes one small chunk, one of a large module a few dozen large ones.
constexpr std::size_t kFirstChunk = 4 * 1024;
constexpr std::size_t kLargestChunk = 1024 * 1024;

// The instruction index keeps the offsets of so many instructions in a block, and a place in the streams before the
// first record after so many steps: reading a record is a step, entering a function (which reads its record and
// the list of functions) two.
constexpr std::size_t kBlockInstructions = 32;
constexpr std::size_t kStepsBetween = 32;
constexpr std::size_t kFunctionSteps = 2;

std::uint32_t checked_count(std::size_t count, const char* what) {
    if (count > UINT32_MAX) throw base::InternalError{std::string{"a function holds more than 4294967295 "} + what};
    return static_cast<std::uint32_t>(count);
}

}  // namespace

// ---- Arena

void Arena::new_chunk(std::size_t size) {
    if (next_size_ == 0) next_size_ = kFirstChunk;
    const std::size_t chunk_size = std::max(size, next_size_);
    // Room in the list first, so that the chunk below cannot be lost.
    if (chunks_.size() == chunks_.capacity()) chunks_.reserve(2 * chunks_.size() + 4);
    auto* data = static_cast<Byte*>(std::malloc(chunk_size));
    if (data == nullptr) throw std::bad_alloc{};
    chunks_.push_back({data, chunk_size});
    cursor_ = data;
    limit_ = data + chunk_size;
    next_size_ = std::min(2 * next_size_, kLargestChunk);
}

Byte* Arena::resize_last(std::size_t size) {
    Chunk& last = chunks_.back();
    auto* data = static_cast<Byte*>(std::realloc(last.data, size));
    if (data == nullptr) throw std::bad_alloc{};
    last = {data, size};
    cursor_ = data;
    limit_ = data + size;
    return data;
}

void Arena::reset(const Mark& mark) noexcept {
    release_from(mark.chunks);
    cursor_ = mark.cursor;
    limit_ = mark.limit;
}

void Arena::release_from(std::size_t first) noexcept {
    for (std::size_t i = first; i < chunks_.size(); ++i) std::free(chunks_[i].data);
    chunks_.resize(std::min(first, chunks_.size()));
}

std::size_t Arena::capacity() const noexcept {
    std::size_t total = 0;
    for (const Chunk& chunk : chunks_) total += chunk.size;
    return total;
}

// ---- Reading

namespace detail {

const Byte* BodyCursor::next() noexcept {
    while (true) {
        const std::uint64_t size = get_varint(p_);
        if (size == 0) {
            p_ = get_fixed<const Byte*>(p_);
            continue;
        }
        const Byte* record = p_;
        p_ += size;
        return *record == kEndTag ? nullptr : record;
    }
}

}  // namespace detail

encoding::InstructionHeader InstructionRef::header() const noexcept {
    const Byte* p = at_;
    return get_instruction_header(p);
}

std::string_view InstructionRef::modifiers() const noexcept {
    return header().modifiers;
}

InstructionRef::Operands InstructionRef::operands() const noexcept {
    const Byte* p = at_;
    const InstructionHeader h = get_instruction_header(p);
    return Operands{p, h.operand_count};
}

InstructionRecords BodyRef::instructions() const noexcept {
    return InstructionRecords{function_stream(function_), function_counts(function_).instructions};
}

StatementRecords BodyRef::statements() const noexcept {
    return StatementRecords{function_stream(function_), function_counts(function_).statements};
}

SignatureRef::Parameters SignatureRef::parameters() const noexcept {
    return Parameters{
        Records<RecordKind::Parameter>{function_stream(function_), function_counts(function_).parameters}};
}

std::uint64_t FunctionRef::offset() const noexcept {
    return function_head(at_).offset;
}

PTXLinkDirective FunctionRef::link_directive() const noexcept {
    return function_head(at_).link_directive;
}

PTXFunctionKind FunctionRef::kind() const noexcept {
    return function_head(at_).kind;
}

std::string_view FunctionRef::name() const noexcept {
    return function_head(at_).name;
}

PTXHeader FileRef::header() const {
    return get_file_header(at_);
}

// ---- Writing

Byte* TreeWriter::link_new_chunk(std::size_t size) {
    Byte* link = arena_.cursor();
    arena_.new_chunk(size + kLinkSize);
    if (link != nullptr) {
        link[0] = 0;
        put_fixed<const Byte*>(link + 1, arena_.cursor());
    }
    return arena_.cursor();
}

Byte* TreeWriter::framed_room(std::size_t size) {
    const std::size_t framed = varint_size(size) + size;
    Byte* at = room(framed);
    Store store{at};
    put_varint(store, std::uint64_t{size});
    arena_.advance(at + framed);
    return store.at;
}

void TreeWriter::finish_record(Byte* written, Byte* expected) {
    // Writing past the measured room would overrun the chunk: never let that pass unseen.
    ZORVANE_CHECK(written == expected, "a record took other than its measured size");
}

void TreeWriter::file_header(const PTXHeader& header) {
    Measure measure;
    put_file_header(measure, header);
    file_ = room(measure.size);
    Store store{file_};
    put_file_header(store, header);
    finish_record(store.at, file_ + measure.size);
    arena_.advance(store.at);
}

Byte* TreeWriter::begin_function(const FunctionHead& head) {
    Measure measure;
    put_function_head(measure, head);
    Byte* function = room(sizeof(FunctionCounts) + measure.size);
    Store store{function + sizeof(FunctionCounts)};
    put_function_head(store, head);
    finish_record(store.at, function + sizeof(FunctionCounts) + measure.size);
    arena_.advance(store.at);
    instructions_ = 0;
    statements_ = 0;
    parameters_ = 0;
    return function;
}

void TreeWriter::parameter(PTXType type, std::string_view name) {
    Measure measure;
    put_parameter(measure, {type, name});
    Byte* at = framed_room(measure.size);
    Store store{at};
    put_parameter(store, {type, name});
    finish_record(store.at, at + measure.size);
    ++parameters_;
}

void TreeWriter::end_function(Byte* function) {
    Byte* end = framed_room(1);
    end[0] = kEndTag;
    put_fixed(function,
              FunctionCounts{checked_count(instructions_, "instructions"), checked_count(statements_, "statements"),
                             checked_count(parameters_, "parameters")});
}

void TreeWriter::add_function(Byte* function) {
    ZORVANE_DEBUG_CHECK(file_ != nullptr, "a function added before the file header");
    functions_.push_back(function);
}

void TreeWriter::statement(const PTXStatement& stmt) {
    Measure measure;
    put_statement(measure, stmt);
    Byte* at = framed_room(measure.size);
    Store store{at};
    put_statement(store, stmt);
    finish_record(store.at, at + measure.size);
    ++statements_;
}

const Byte* TreeWriter::begin_loose_stream() {
    return room(0);
}

void TreeWriter::grow(std::size_t size) {
    const auto written = static_cast<std::size_t>(cursor_ - frame_);
    // Room doubles as a record grows, so that one of any length is copied a bounded number of times; once the record
    // has a chunk of its own, that chunk grows in place where it can, and its bytes are never kept twice.
    const std::size_t wanted = 2 * (written + size) + kLinkSize;
    if (record_owns_chunk_) {
        Byte* moved = arena_.resize_last(wanted);
        put_fixed<const Byte*>(link_to_record_ + 1, moved);
        frame_ = moved;
        cursor_ = moved + written;
        return;
    }
    Byte* old = frame_;
    arena_.new_chunk(wanted);
    Byte* fresh = arena_.cursor();
    std::memcpy(fresh, old, written);
    // The stream goes on where the record now is; room for this link was made when the record began.
    old[0] = 0;
    put_fixed<const Byte*>(old + 1, fresh);
    link_to_record_ = old;
    record_owns_chunk_ = true;
    frame_ = fresh;
    cursor_ = fresh + written;
}

void TreeWriter::open_gap(std::size_t offset, std::size_t width) {
    reserve(width);
    Byte* at = record() + offset;
    std::memmove(at + width, at, static_cast<std::size_t>(cursor_ - at));
    cursor_ += width;
}

void TreeWriter::end_vector(std::size_t start, std::uint64_t count) {
    // Nearly every list is short enough for the byte kept for its count.
    const std::size_t width = varint_size(count);
    if (width > 1) open_gap(start + 2, width - 1);
    Store store{record() + start + 1};
    put_varint(store, count);
}

void TreeWriter::end_instruction(std::size_t operand_count) {
    if (operand_count < kCountInFlags) {
        record()[kFlagsAt] = static_cast<Byte>(record()[kFlagsAt] | (operand_count << kCountShift));
    } else {
        record()[kFlagsAt] = static_cast<Byte>(record()[kFlagsAt] | (kCountInFlags << kCountShift));
        const std::size_t width = varint_size(operand_count);
        open_gap(operands_at_, width);
        Store store{record() + operands_at_};
        put_varint(store, std::uint64_t{operand_count});
    }
    const auto size = static_cast<std::size_t>(cursor_ - record());
    const std::size_t width = varint_size(size);
    if (width > 1) open_gap(0, width - 1);
    Store store{frame_};
    put_varint(store, std::uint64_t{size});
    arena_.advance(cursor_);
    ++instructions_;
}

ParsedFile TreeWriter::finish() && {
    ZORVANE_CHECK(file_ != nullptr, "a tree finished without its file header");
    return ParsedFile{std::move(arena_), file_, std::move(functions_)};
}

// ---- Instruction index

InstructionIndex::InstructionIndex(FileRef file) : file_{file} {
    std::size_t count = 0;
    file.functions().for_each([&count](FunctionRef function) { count += function.body().instructions().size(); });
    deltas_.reserve(count);
    std::size_t function_index = 0;
    // Places are made only before records, where a walk can lead: a run of functions without records (declarations)
    // costs one place, before the record after it. The first record of the file has one.
    std::size_t steps = kStepsBetween;
    file.functions().for_each([&](FunctionRef function) {
        steps += kFunctionSteps;
        detail::BodyCursor cursor{function_stream(function.record())};
        while (true) {
            const Byte* before = cursor.position();
            const Byte* record = cursor.next();
            if (record == nullptr) break;
            if (steps >= kStepsBetween) {
                checkpoints_.push_back({deltas_.size(), before, function_index});
                steps = 0;
            }
            ++steps;
            if (is_kind(*record, RecordKind::Instruction)) add_offset(InstructionRef{record}.offset());
        }
        ++function_index;
    });
}

void InstructionIndex::add_offset(std::uint64_t offset) {
    const std::size_t number = deltas_.size();
    if (!blocks_.empty()) {
        const Block& block = blocks_.back();
        // The lookup relies on offsets that ascend through the file, as the parser reads the text in order.
        ZORVANE_CHECK(offset > block.base + deltas_.back(), "instruction offsets do not ascend");
        if (number - block.first < kBlockInstructions && offset - block.base <= UINT16_MAX) {
            deltas_.push_back(static_cast<std::uint16_t>(offset - block.base));
            return;
        }
    }
    blocks_.push_back({offset, number});
    deltas_.push_back(0);
}

std::optional<std::size_t> InstructionIndex::number_of(std::uint64_t offset) const noexcept {
    // The last block that starts at or before `offset`.
    const auto after = std::upper_bound(blocks_.begin(), blocks_.end(), offset,
                                        [](std::uint64_t o, const Block& b) { return o < b.base; });
    if (after == blocks_.begin()) return std::nullopt;
    const Block& block = *(after - 1);
    const std::uint64_t delta = offset - block.base;
    if (delta > UINT16_MAX) return std::nullopt;
    const std::size_t end = after == blocks_.end() ? deltas_.size() : after->first;
    for (std::size_t i = block.first; i < end; ++i) {
        if (deltas_[i] == delta) return i;
        if (deltas_[i] > delta) break;
    }
    return std::nullopt;
}

InstructionRef InstructionIndex::instruction(std::size_t number) const noexcept {
    // The last place before the instruction, from which fewer than kStepsBetween steps lead to it.
    const auto after = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), number,
                                        [](std::size_t n, const Checkpoint& c) { return n < c.number; });
    const Checkpoint& start = *(after - 1);
    detail::BodyCursor cursor{start.stream};
    std::size_t function = start.function;
    std::size_t at = start.number;
    while (true) {
        const Byte* record = cursor.next();
        if (record == nullptr) {
            // The instruction lies in a later function.
            cursor = detail::BodyCursor{function_stream(file_.functions()[++function].record())};
            continue;
        }
        if (!is_kind(*record, RecordKind::Instruction)) continue;
        if (at == number) return InstructionRef{record};
        ++at;
    }
}

}  // namespace zorvane::ast

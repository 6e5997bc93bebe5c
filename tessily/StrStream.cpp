// CIStrStream, a reader over a range of a string it does not own, and the free GetLine.
#include "Tessily.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string_view>

namespace {

struct Range {
    int begin;
    int end;
};

// Offsets are ints, so a source longer than INT_MAX is read up to INT_MAX.
int64_t Length(const std::string& s) {
    return std::min<int64_t>(static_cast<int64_t>(s.size()), INT_MAX);
}

// The range [begin + from, begin + to) of [begin, end); a from outside the range gives end,
// and so does a to below the clamped from or beyond the range.
Range Clamp(int64_t begin, int64_t end, int64_t from, int64_t to) {
    const int64_t size = end - begin;
    const int64_t b = (from < 0 || from > size) ? size : from;
    const int64_t e = (to < b || to > size) ? size : to;
    return Range{static_cast<int>(begin + b), static_cast<int>(begin + e)};
}

// The source as far as both the range and the source's present length reach.
std::string_view View(const std::string& source, int end) {
    return std::string_view(source.data(), static_cast<size_t>(std::min<int64_t>(end, Length(source))));
}

std::string StripCarriageReturns(std::string_view line) {
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return std::string(line);
}

}  // namespace

CIStrStream::CIStrStream(const std::string& source, int from, int to) noexcept : m_source(&source) {
    Range r = Clamp(0, Length(source), from, to);
    m_begin = r.begin;
    m_end = r.end;
    m_pos = m_begin;
}

CIStrStream::CIStrStream(const CIStrStream& other, int from, int to) noexcept : m_source(other.m_source) {
    Range r = Clamp(other.m_begin, other.m_end, from, to);
    m_begin = r.begin;
    m_end = r.end;
    m_pos = m_begin;
}

CIStrStream::CIStrStream(const CIStrStream& other) noexcept : CIStrStream(other, 0, -1) {}

CIStrStream& CIStrStream::operator=(const CIStrStream& other) noexcept {
    m_source = other.m_source;
    m_begin = other.m_begin;
    m_end = other.m_end;
    m_pos = m_end;
    return *this;
}

CIStrStream::~CIStrStream() = default;

void CIStrStream::Reset() noexcept { m_pos = m_begin; }

int CIStrStream::Size() const noexcept { return m_end - m_begin; }

bool CIStrStream::IsEOS() const noexcept { return m_pos >= m_end; }

int CIStrStream::Tell() const noexcept { return m_pos - m_begin; }

bool CIStrStream::Seek(int offset, int origin) noexcept {
    int64_t target;
    switch (origin) {
    case 0: target = int64_t{m_begin} + offset; break;
    case 1: target = int64_t{m_pos} + offset; break;
    case 2: target = int64_t{m_end} + offset; break;
    default: target = 0; break;
    }
    if (target < m_begin || target > m_end) {
        m_pos = m_end;
        return false;
    }
    m_pos = static_cast<int>(target);
    return true;
}


int CIStrStream::Seek(const std::string& text) noexcept {
    const std::string_view view = View(*m_source, m_end);
    const size_t found = view.find(text, static_cast<size_t>(m_pos));
    if (found == std::string_view::npos) {
        m_pos = m_end;
        return -1;
    }
    m_pos = static_cast<int>(found);
    return m_pos;
}

int CIStrStream::Find(const std::string& text, int from) const noexcept {
    const int64_t start = (from < 0 || int64_t{m_begin} + from > m_end) ? m_end : int64_t{m_begin} + from;
    const std::string_view view = View(*m_source, m_end);
    const size_t found = view.find(text, static_cast<size_t>(start));
    return found == std::string_view::npos ? -1 : static_cast<int>(found);
}

std::string CIStrStream::GetLine() noexcept {
    const std::string_view view = View(*m_source, m_end);
    const size_t pos = static_cast<size_t>(m_pos);
    if (pos >= view.size()) {
        m_pos = m_end;  // the source may have shrunk below the range
        return std::string();
    }
    try {
        const size_t lf = view.find('\n', pos);
        std::string line;
        if (lf == std::string_view::npos) {
            line = StripCarriageReturns(view.substr(pos));
            m_pos = m_end;
        } else {
            line = StripCarriageReturns(view.substr(pos, lf - pos));
            m_pos = static_cast<int>(lf + 1);
        }
        return line;
    } catch (...) {
        return std::string();
    }
}

std::string CIStrStream::GetLine(const std::string& text, int& pos) noexcept {
    return ::GetLine(text, pos);
}

std::string CIStrStream::Get(int count) const noexcept {
    const std::string_view view = View(*m_source, m_end);
    if (static_cast<size_t>(m_pos) >= view.size()) return std::string();
    const size_t avail = view.size() - static_cast<size_t>(m_pos);
    const size_t n = (count < 0 || static_cast<size_t>(count) > avail) ? avail : static_cast<size_t>(count);
    try {
        return std::string(view.substr(static_cast<size_t>(m_pos), n));
    } catch (...) {
        return std::string();
    }
}

std::string CIStrStream::SubString(int from, int count) const noexcept {
    const int64_t start = (from < 0 || int64_t{m_begin} + from > m_end) ? m_end : int64_t{m_begin} + from;
    const std::string_view view = View(*m_source, m_end);
    if (static_cast<size_t>(start) >= view.size()) return std::string();
    const size_t avail = view.size() - static_cast<size_t>(start);
    const size_t n = (count < 0 || static_cast<size_t>(count) > avail) ? avail : static_cast<size_t>(count);
    try {
        return std::string(view.substr(static_cast<size_t>(start), n));
    } catch (...) {
        return std::string();
    }
}

CIStrStream CIStrStream::SubStream(int from, int count) const noexcept {
    const int64_t to = int64_t{from} + count;
    // Any end outside int lies outside the range too, as does -1 (below every clamped from).
    return CIStrStream(*this, from, (to < INT_MIN || to > INT_MAX) ? -1 : static_cast<int>(to));
}

std::string GetLine(const std::string& text, int& pos) noexcept {
    if (pos < 0 || static_cast<size_t>(pos) > text.size()) return std::string();
    try {
        const size_t start = static_cast<size_t>(pos);
        const size_t lf = text.find('\n', start);
        const size_t next = lf == std::string::npos ? text.size() : lf + 1;
        if (next > static_cast<size_t>(INT_MAX)) return std::string();
        std::string line = StripCarriageReturns(
            std::string_view(text).substr(start, (lf == std::string::npos ? text.size() : lf) - start));
        pos = static_cast<int>(next);
        return line;
    } catch (...) {
        return std::string();
    }
}

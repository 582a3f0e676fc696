#pragma once
// The pieces of one pass between the reader that cuts them, the converters that take them in turn
// and the writer that hands their results on in input order. Memory stays bounded: a piece joins
// those in flight only while their bytes leave room for it, and a piece larger than usual only
// once all others are written. The first failure in input order is the one the writer meets.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

template <typename Piece, typename Result> class PieceSchedule {
public:
    using Convert = std::function<Result(std::size_t, Piece &)>;

    // budget: bytes of pieces in flight, read but not yet written; largestUsual: the most a piece may
    // hold and still come in beside others.
    PieceSchedule(std::size_t budget, std::size_t largestUsual)
        : m_budget(budget)
        , m_largestUsual(largestUsual)
    {
    }

    // Reader: waits until a piece of size bytes may come in, then adds it as the next in input
    // order. False once the schedule stopped: the reader then ends.
    bool put(std::size_t size, const std::function<Piece()> &make)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_stopped || fits(size); });
        if (m_stopped)
            return false;
        lock.unlock();
        Piece piece = make(); // may throw: nothing came in
        lock.lock();
        m_inFlight += size;
        m_oversized = size > m_largestUsual;
        m_entries.push_back({ std::move(piece), std::nullopt, nullptr, size, State::Waiting });
        m_changed.notify_all();
        return true;
    }
    // Reader: no more pieces; a failure, when given, is that of the piece after the last one put.
    void close(std::exception_ptr failure = nullptr)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (failure)
            m_entries.push_back({ std::nullopt, std::nullopt, std::move(failure), 0, State::Done });
        m_closed = true;
        m_changed.notify_all();
    }
    // Converter: the earliest piece nobody has taken, with its index; nothing once none will come.
    std::optional<std::pair<std::size_t, Piece>> take()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_stopped || takeable() || noMorePieces(); });
        if (m_stopped || !takeable())
            return std::nullopt;
        return takeNext();
    }
    // Converter: converts piece index and records its result, or its failure.
    void finish(std::size_t index, Piece &piece, const Convert &convert)
    {
        Outcome outcome = attempt(convert, index, piece);
        const std::lock_guard<std::mutex> lock(m_mutex);
        settle(m_entries[index - m_written], std::move(outcome));
        m_changed.notify_all();
    }
    // Writer: the next result in input order, nothing after the last; rethrows the failure of its
    // piece. The result returned before is given up here. While the piece waits for a converter,
    // convert runs it on this thread; while it converts elsewhere, poll runs now and then and may
    // throw to stop.
    std::optional<Result> next(const Convert &convert, const std::function<void()> &poll)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_handedOn) {
            m_inFlight -= m_entries.front().size;
            m_oversized = m_oversized && m_inFlight > 0;
            m_entries.pop_front();
            ++m_written;
            m_handedOn = false;
            m_changed.notify_all();
        }
        for (;;) {
            if (m_entries.empty() && m_closed)
                return std::nullopt;
            if (!m_entries.empty() && m_entries.front().state == State::Done)
                break;
            if (!m_entries.empty() && m_entries.front().state == State::Waiting) {
                auto [index, piece] = takeNext();
                lock.unlock();
                Outcome outcome = attempt(convert, index, piece);
                lock.lock();
                settle(m_entries.front(), std::move(outcome));
                break;
            }
            m_changed.wait_for(lock, kPollInterval);
            lock.unlock();
            poll();
            lock.lock();
        }
        Entry &entry = m_entries.front();
        if (entry.failure)
            std::rethrow_exception(entry.failure);
        m_handedOn = true;
        return std::move(entry.result);
    }
    // Everyone stops after the piece in hand: the writer met a failure or a cancel.
    void stop()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
        m_changed.notify_all();
    }

private:
    enum class State { Waiting, Converting, Done };
    struct Entry {
        std::optional<Piece> piece;
        std::optional<Result> result;
        std::exception_ptr failure;
        std::size_t size;
        State state;
    };
    struct Outcome {
        std::optional<Result> result;
        std::exception_ptr failure;
    };
    static constexpr auto kPollInterval = std::chrono::milliseconds(20);

    static Outcome attempt(const Convert &convert, std::size_t index, Piece &piece)
    {
        try {
            return { convert(index, piece), nullptr };
        } catch (...) {
            return { std::nullopt, std::current_exception() };
        }
    }
    static void settle(Entry &entry, Outcome outcome)
    {
        entry.result = std::move(outcome.result);
        entry.failure = std::move(outcome.failure);
        entry.state = State::Done;
    }

    bool fits(std::size_t size) const
    {
        return m_inFlight == 0 || (size <= m_largestUsual && !m_oversized && m_inFlight + size <= m_budget);
    }
    bool takeable() const
    {
        return m_taken - m_written < m_entries.size() && m_entries[m_taken - m_written].state == State::Waiting;
    }
    bool noMorePieces() const { return m_closed && m_taken - m_written >= m_entries.size(); }
    std::pair<std::size_t, Piece> takeNext()
    {
        Entry &entry = m_entries[m_taken - m_written];
        entry.state = State::Converting;
        std::pair<std::size_t, Piece> taken(m_taken++, std::move(*entry.piece));
        entry.piece.reset();
        return taken;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Entry> m_entries; // from the piece the writer hands on next
    std::size_t m_written = 0; // index of the first entry
    std::size_t m_taken = 0; // pieces taken by a converter or the writer
    std::size_t m_inFlight = 0;
    const std::size_t m_budget;
    const std::size_t m_largestUsual;
    bool m_oversized = false;
    bool m_closed = false;
    bool m_stopped = false;
    bool m_handedOn = false; // the front's result went to the writer
};

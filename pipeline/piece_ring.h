#pragma once
// Pieces handed from a producing thread to the consuming one through a fixed ring, so that no more
// than its slots wait at any time, and each side's end or failure reaches the other.

#include <array>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

template <typename Piece, std::size_t Slots> class PieceRing {
public:
    // Producer side: waits while the ring is full. False once the consumer gave up: the producer
    // then ends without another piece.
    bool put(Piece piece)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_notFull.wait(lock, [this] { return m_count < Slots || m_abandoned; });
        if (m_abandoned)
            return false;
        m_slots[(m_first + m_count) % Slots] = std::move(piece);
        ++m_count;
        m_notEmpty.notify_one();
        return true;
    }
    // Producer side: no more pieces; failure, when given, is what the consumer meets after the
    // pieces already put.
    void close(std::exception_ptr failure = nullptr)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_failure = std::move(failure);
        m_notEmpty.notify_one();
    }
    // Consumer side: the next piece, or nothing at the end; rethrows the producer's failure.
    std::optional<Piece> take()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_notEmpty.wait(lock, [this] { return m_count > 0 || m_closed; });
        if (m_count == 0) {
            if (m_failure)
                std::rethrow_exception(m_failure);
            return std::nullopt;
        }
        std::optional<Piece> piece = std::move(m_slots[m_first]);
        m_slots[m_first].reset();
        m_first = (m_first + 1) % Slots;
        --m_count;
        m_notFull.notify_one();
        return piece;
    }
    // Consumer side: wants nothing more; a waiting producer wakes and ends.
    void abandon()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_abandoned = true;
        for (auto &slot : m_slots)
            slot.reset();
        m_count = 0;
        m_notFull.notify_one();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_notFull;
    std::condition_variable m_notEmpty;
    std::array<std::optional<Piece>, Slots> m_slots;
    std::size_t m_first = 0;
    std::size_t m_count = 0;
    bool m_closed = false;
    bool m_abandoned = false;
    std::exception_ptr m_failure;
};

// Runs produce on a thread of its own, filling the ring; whatever it throws reaches the consumer's
// take(). Leaving scope abandons the ring and waits for the thread.
template <typename Piece, std::size_t Slots> class PieceProducer {
public:
    using Ring = PieceRing<Piece, Slots>;

    explicit PieceProducer(std::function<void(Ring &)> produce)
        : m_thread([this, produce = std::move(produce)] {
            try {
                produce(m_ring);
                m_ring.close();
            } catch (...) {
                m_ring.close(std::current_exception());
            }
        })
    {
    }
    ~PieceProducer()
    {
        m_ring.abandon();
        m_thread.join();
    }
    PieceProducer(const PieceProducer &) = delete;
    PieceProducer &operator=(const PieceProducer &) = delete;

    std::optional<Piece> take() { return m_ring.take(); }

private:
    Ring m_ring; // before the thread, which uses it from its first moment
    std::thread m_thread;
};

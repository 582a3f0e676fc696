#pragma once
// Plain buffers of one size that go back to their pool when dropped, so that a pass of many pieces
// touches fresh memory only for its first few. Shared by the threads of one pass.

#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class BufferPool {
public:
    class Buffer {
    public:
        Buffer() = default;
        Buffer(Buffer &&other) noexcept { *this = std::move(other); }
        Buffer &operator=(Buffer &&other) noexcept
        {
            giveBack();
            m_memory = std::move(other.m_memory);
            m_size = std::exchange(other.m_size, 0);
            m_pool = std::exchange(other.m_pool, nullptr);
            return *this;
        }
        ~Buffer() { giveBack(); }

        char *data() const { return m_memory.get(); }
        std::size_t size() const { return m_size; }

    private:
        friend class BufferPool;
        Buffer(std::unique_ptr<char[]> memory, std::size_t size, BufferPool *pool)
            : m_memory(std::move(memory))
            , m_size(size)
            , m_pool(pool)
        {
        }
        void giveBack()
        {
            if (m_pool != nullptr && m_memory)
                m_pool->keep(std::move(m_memory));
            m_size = 0;
        }

        std::unique_ptr<char[]> m_memory;
        std::size_t m_size = 0;
        BufferPool *m_pool = nullptr; // null for a buffer of another size, freed when dropped
    };

    explicit BufferPool(std::size_t bufferBytes)
        : m_bufferBytes(bufferBytes)
    {
        m_free.reserve(kUsualCount); // giving back rarely allocates
    }
    // Must outlive every buffer it gave.
    BufferPool(const BufferPool &) = delete;
    BufferPool &operator=(const BufferPool &) = delete;

    // A buffer of the pool's size when that holds size bytes; else one of exactly size bytes.
    Buffer take(std::size_t size)
    {
        if (size > m_bufferBytes)
            return { std::make_unique_for_overwrite<char[]>(size), size, nullptr };
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_free.empty()) {
                std::unique_ptr<char[]> memory = std::move(m_free.back());
                m_free.pop_back();
                return { std::move(memory), m_bufferBytes, this };
            }
        }
        return { std::make_unique_for_overwrite<char[]>(m_bufferBytes), m_bufferBytes, this };
    }

private:
    void keep(std::unique_ptr<char[]> memory)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_free.push_back(std::move(memory));
    }

    static constexpr std::size_t kUsualCount = 64;
    const std::size_t m_bufferBytes;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<char[]>> m_free;
};

#pragma once

#include <functional>
#include <vector>

// Undoes what a test did to the machine (attributes, mounts, limits) when the test ends, passed
// or failed, newest first.
class Cleanup
{
public:
    Cleanup() = default;
    Cleanup(const Cleanup &) = delete;
    Cleanup &operator=(const Cleanup &) = delete;
    ~Cleanup()
    {
        for (auto step = m_steps.rbegin(); step != m_steps.rend(); ++step)
            (*step)();
    }
    void add(std::function<void()> step) { m_steps.push_back(std::move(step)); }

private:
    std::vector<std::function<void()>> m_steps;
};

#pragma once

#include <mutex>

// A critical section and the lock object that takes it, as the receive stores of the CAN
// transports use them: one producer thread, one consumer thread, short holds.
class CCriticalSection {
  public:
    void Lock() { mutex_.lock(); }
    void Unlock() { mutex_.unlock(); }

  private:
    std::mutex mutex_;
};

// Takes the section with an infinite wait at construction (or at Lock) and releases it at Unlock
// or destruction.
class CSingleLock {
  public:
    explicit CSingleLock(CCriticalSection* section, bool lockNow = false) : section_(section) {
        if (lockNow) {
            Lock();
        }
    }
    ~CSingleLock() { Unlock(); }
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;

    void Lock() {
        if (!locked_) {
            section_->Lock();
            locked_ = true;
        }
    }
    void Unlock() {
        if (locked_) {
            section_->Unlock();
            locked_ = false;
        }
    }
    bool IsLocked() const { return locked_; }

  private:
    CCriticalSection* section_;
    bool locked_ = false;
};

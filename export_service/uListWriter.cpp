#include "export_service/uListWriter.h"

namespace svc {

TListWriter::TListWriter(TXMLGenerator& document) : document_(document), thread_([this] { Work(); }) {}

TListWriter::~TListWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    thread_.join();
}

void TListWriter::RaiseFailure() {
    if (failure_) std::rethrow_exception(failure_);
}

void TListWriter::Write(std::string listName, std::unique_ptr<TDataObjectList> list) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return failure_ || queue_.empty(); });
    RaiseFailure();
    queue_.push_back({std::move(listName), std::move(list)});
    lock.unlock();
    changed_.notify_all();
}

void TListWriter::Finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return failure_ || (queue_.empty() && !busy_); });
    RaiseFailure();
}

void TListWriter::Work() {
    for (;;) {
        TItem item;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            if (stop_) return;
            item = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
        }
        std::exception_ptr failure;
        try {
            document_.WriteList(item.name, *item.list);
            document_.Spill();  // into the data file, if it was started
        } catch (...) {
            failure = std::current_exception();
        }
        item.list.reset();  // the records are freed here, not on the reading thread
        {
            std::lock_guard<std::mutex> lock(mutex_);
            busy_ = false;
            if (failure) {
                failure_ = failure;
                queue_.clear();
                stop_ = true;
            }
        }
        changed_.notify_all();
        if (failure) return;
    }
}

}  // namespace svc

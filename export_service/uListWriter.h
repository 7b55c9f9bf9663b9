// Writing a package's lists into its data document on a thread of its own, so that the next
// kind is read from the database while the one before is turned into text (and into the data
// file, when the document's file was started).
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "export_service/uQelOutProcessors.h"

namespace svc {

class TListWriter {
public:
    explicit TListWriter(TXMLGenerator& document);
    // Drops what was not written yet and waits for the thread.
    ~TListWriter();
    TListWriter(const TListWriter&) = delete;
    TListWriter& operator=(const TListWriter&) = delete;

    // Queues a list; lists go into the document in the order they were queued. Waits while one
    // list is still waiting, so at most two are held. Raises the failure of an earlier list.
    void Write(std::string listName, std::unique_ptr<TDataObjectList> list);
    // Waits until every queued list is in the document; raises the first failure. After a
    // failure nothing more is written, as if the lists had been written one after another.
    void Finish();

private:
    struct TItem {
        std::string name;
        std::unique_ptr<TDataObjectList> list;
    };
    void Work();
    void RaiseFailure();

    TXMLGenerator& document_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<TItem> queue_;
    bool busy_ = false;
    bool stop_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};

}  // namespace svc

#pragma once

#include <string>

namespace quillon {

// What a run's preparation says while it makes the run ready, for its owner to show in its
// own way (quillon-cli on stderr, the production view not at all: it shows the error the
// preparation ends with). The texts are the preparation's; names in them show their control
// characters escaped.
class PreparationMessages {
public:
    virtual ~PreparationMessages() = default;

    // A note or the error of the image reader on the file `path`, in the reader's own words.
    virtual void ReaderMessage(const std::string& path, const std::string& text) = 0;
    // A line of the run's log, as a job would say it (the image holds no data).
    virtual void LogLine(const std::string& text) = 0;
    // Why the run cannot start, or a note that does not stop it (rows left in the spool).
    virtual void Problem(const std::string& text) = 0;
    // A mistake in what was asked for (the record file is the image itself, the serial
    // number's place is taken by the image), which the options' help explains.
    virtual void Mistake(const std::string& text) = 0;
};

// Says nothing: for an owner that shows only the error the preparation ends with.
class QuietPreparationMessages : public PreparationMessages {
public:
    void ReaderMessage(const std::string&, const std::string&) override {}
    void LogLine(const std::string&) override {}
    void Problem(const std::string&) override {}
    void Mistake(const std::string&) override {}
};

}  // namespace quillon

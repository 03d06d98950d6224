#pragma once

// Real file operations with faults planted on purpose: the k-th operation fails, a copy comes out
// short or with one byte flipped, something appears at a move's destination just before the move,
// or any other change a test makes right before a chosen operation (emptying the Trash, say).
// Every call is logged, so a test can also check what was never attempted.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "QuandrilCore/Machine/FileOps.h"

namespace Quandril::Testing {

enum class FileOp {
    trash,
    remove,
    moveNoReplace,
    createFolder,
    createLink,
    copy,
    runAsAdmin,
    removeLink,
    removeFolder,
};

std::string_view name(FileOp op);

struct FileOpCall {
    FileOp op;
    std::string first;  // the item (or the joined admin line)
    std::string second; // the destination or link target; empty when the operation has none
};

class FaultyFileOps : public LiveFileOps {
public:
    enum class CopyFault {
        none,
        shortFile,   // the copy succeeds, but one file of it lacks its last byte
        flippedByte, // the copy succeeds, but one byte of one file is inverted (size and times kept)
        missingFile, // the copy succeeds, but one file of it is gone
    };

    // Called right before an operation runs (after it is logged, before any planted failure), with
    // the operation's 1-based position among all operations.
    using Hook = std::function<void(const FileOpCall& call, int position)>;

    // The k-th operation (1-based) throws std::system_error(`error`) without doing anything. With
    // `only`, k counts only operations of that kind.
    FaultyFileOps& failAt(int k, std::optional<FileOp> only = std::nullopt, int error = 5 /* EIO */);
    // Every operation of the kind fails.
    FaultyFileOps& failAll(FileOp op, int error = 5 /* EIO */);
    // Damages each copy the way the fault says, after the real copy succeeded.
    FaultyFileOps& damageCopies(CopyFault fault);
    // Right before the k-th move (1-based, counting moves only), a file holding `content` appears at
    // its destination.
    FaultyFileOps& occupyBeforeMove(int k, std::string content = "something new");
    FaultyFileOps& before(Hook hook);
    // The answer of runAsAdmin. When `execute` is true the commands really run, as this user,
    // through /bin/sh with the line Mac::runAsAdmin would hand to the password prompt.
    FaultyFileOps& adminAnswer(bool execute);

    const std::vector<FileOpCall>& calls() const { return calls_; }
    int count(FileOp op) const;
    // Each runAsAdmin call's shell line, in call order.
    const std::vector<std::string>& adminLines() const { return adminLines_; }

    std::string trash(const Mac& mac, const std::string& path) override;
    std::int64_t remove(const std::string& path) override;
    void moveNoReplace(const std::string& from, const std::string& to) override;
    void createFolder(const std::string& path) override;
    void createLink(const std::string& at, const std::string& target) override;
    void copy(const std::string& from, const std::string& to) override;
    bool runAsAdmin(const Mac& mac, const std::vector<std::vector<std::string>>& commands) override;
    void removeLink(const std::string& path) override;
    void removeFolder(const std::string& path) override;

private:
    struct Failure {
        int k;
        std::optional<FileOp> only;
        int error;
    };

    // Logs the call, runs the hooks and throws a planted failure.
    void enter(FileOp op, const std::string& first, const std::string& second = {});

    std::vector<FileOpCall> calls_;
    std::vector<Failure> failures_;
    std::vector<std::pair<FileOp, int>> alwaysFailing_;
    std::vector<std::pair<int, std::string>> occupied_;
    std::vector<Hook> hooks_;
    CopyFault copyFault_ = CopyFault::none;
    bool adminExecutes_ = false;
    std::vector<std::string> adminLines_;
};

} // namespace Quandril::Testing

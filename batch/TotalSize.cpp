#include "batch/TotalSize.h"

#include "base/MemoryBudget.h"
#include "batch/ByteTargets.h"
#include "batch/ListOrderRun.h"
#include "batch/Pipeline.h"
#include "base/Files.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <unistd.h>

namespace pictavo {
namespace {

// Reduced pictures waiting for the run's quality: in memory while they take
// at most `pool` bytes, the others in one temporary file in the output
// folder, unlinked as soon as it is made so that nothing is left behind
// whatever happens. The pool is taken out of the budget for the whole run,
// so jobs never wait for memory that waiting pictures hold.
class WaitingPictures {
public:
    WaitingPictures(std::string folder, std::size_t count, std::uint64_t pool)
        : folder_(std::move(folder)), entries_(count), free_(pool)
    {
    }

    // `ceilings`: each output's highest quality, below its byte target.
    void put(int i, ReducedSizes reduced, std::vector<int> ceilings)
    {
        Entry& e = entries_[static_cast<std::size_t>(i)];
        e.header = std::move(reduced.header);
        e.ceilings = std::move(ceilings);
        reduced.memory.release();
        std::uint64_t bytes = 0;
        for (const WaitingOutput& output : reduced.outputs) bytes += PixelBytes(output);
        std::lock_guard guard(lock_);
        if (bytes <= free_) {
            free_ -= bytes;
            e.outputs = std::move(reduced.outputs);
            return;
        }
        // Waits in the file: only the metadata stays.
        open();
        e.offset = end_;
        end_ += static_cast<off_t>(bytes);
        off_t at = e.offset;
        for (WaitingOutput& output : reduced.outputs) {
            const std::size_t row = 3 * static_cast<std::size_t>(output.colour.width());
            for (int y = 0; y < output.colour.height(); ++y, at += static_cast<off_t>(row))
                write(output.colour.scanLine(y), row, at);
            write(output.alpha.data(), output.alpha.size(), at);
            at += static_cast<off_t>(output.alpha.size());
            e.sizes.push_back({output.colour.width(), output.colour.height(), !output.alpha.empty()});
            e.outputs.push_back({{}, {}, std::move(output.metadata)});
        }
    }

    // The outputs, read back into `outputs` when they wait in the file;
    // `memory` then holds their share.
    const std::vector<WaitingOutput>& get(int i, std::vector<WaitingOutput>& outputs, MemoryReservation& memory) const
    {
        const Entry& e = entries_[static_cast<std::size_t>(i)];
        if (e.offset < 0) return e.outputs;
        outputs = e.outputs;
        std::uint64_t bytes = 0;
        for (const Size& size : e.sizes)
            bytes += static_cast<std::uint64_t>(RowBytes(size.width, 24) + (size.alpha ? size.width : 0)) *
                     static_cast<std::uint64_t>(size.height);
        memory = MemoryReservation(bytes);
        off_t at = e.offset;
        for (std::size_t k = 0; k < outputs.size(); ++k) {
            const Size& size = e.sizes[k];
            WaitingOutput& output = outputs[k];
            output.colour.reset(size.width, size.height, PixelFormat::Bgr24, std::nullopt);
            const std::size_t row = 3 * static_cast<std::size_t>(size.width);
            for (int y = 0; y < size.height; ++y, at += static_cast<off_t>(row)) read(output.colour.scanLine(y), row, at);
            if (!size.alpha) continue;
            output.alpha.resize(static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height));
            read(output.alpha.data(), output.alpha.size(), at);
            at += static_cast<off_t>(output.alpha.size());
        }
        return outputs;
    }

    const PictureHeader& header(int i) const { return entries_[static_cast<std::size_t>(i)].header; }
    int ceiling(int i, std::size_t k) const { return entries_[static_cast<std::size_t>(i)].ceilings[k]; }

private:
    struct Size {
        int width = 0, height = 0;
        bool alpha = false;
    };
    struct Entry {
        std::vector<WaitingOutput> outputs;  // only their metadata while they wait in the file
        std::vector<Size> sizes;             // theirs, when they wait in the file
        PictureHeader header;
        std::vector<int> ceilings;
        off_t offset = -1;  // where they wait in the file, when they do
    };

    static std::uint64_t PixelBytes(const WaitingOutput& output)
    {
        return 3 * static_cast<std::uint64_t>(output.colour.width()) * static_cast<std::uint64_t>(output.colour.height()) +
               output.alpha.size();
    }

    void open()
    {
        if (file_.get() >= 0) return;
        std::string path = folder_ + ".pictavo-waiting-XXXXXX";
        file_ = FileDescriptor(::mkstemp(path.data()));
        if (file_.get() < 0) throw EFCreateError(path, path, std::strerror(errno));
        ::unlink(path.c_str());
    }

    void write(const std::uint8_t* data, std::size_t size, off_t at) const
    {
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::pwrite(file_.get(), data + done, size - done, at + static_cast<off_t>(done));
            if (n <= 0) {
                EWriteError error;
                error.setDetail(std::strerror(n < 0 ? errno : ENOSPC));
                throw error;
            }
            done += static_cast<std::size_t>(n);
        }
    }

    void read(std::uint8_t* data, std::size_t size, off_t at) const
    {
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::pread(file_.get(), data + done, size - done, at + static_cast<off_t>(done));
            if (n <= 0) throw EReadError();
            done += static_cast<std::size_t>(n);
        }
    }

    std::string folder_;
    std::vector<Entry> entries_;
    std::mutex lock_;
    FileDescriptor file_;
    off_t end_ = 0;
    std::uint64_t free_;  // of the pool
};

// Takes a share out of the memory budget while it lives.
class BudgetShare {
public:
    explicit BudgetShare(std::uint64_t bytes) : bytes_(bytes) { SetMemoryBudget(MemoryBudget() - bytes_); }
    ~BudgetShare() { SetMemoryBudget(MemoryBudget() + bytes_); }
    BudgetShare(const BudgetShare&) = delete;
    BudgetShare& operator=(const BudgetShare&) = delete;
    std::uint64_t bytes() const { return bytes_; }

private:
    std::uint64_t bytes_;
};

}  // namespace

void RunWithinTotal(const BatchModel& settings, const std::vector<std::string>& names,
                    const std::function<ReducedSizes(int)>& reduce,
                    const std::function<void(int, std::vector<ResizedOutput>)>& commit,
                    const std::function<void(int, const ResizeError&)>& failed,
                    const std::function<void(int quality, std::uint64_t bytes)>& chosen,
                    const std::string& outputFolder, const RunOptions& options,
                    const std::vector<std::uintmax_t>& costs)
{
    const int count = static_cast<int>(names.size());
    const int jobs = std::max(1, options.jobs);
    const int ceiling = settings.quality();
    // A quarter of the budget for waiting pictures, the rest for the jobs.
    const BudgetShare pool(MemoryBudget() / 4);
    WaitingPictures waiting(outputFolder, names.size(), pool.bytes());
    std::vector<bool> ready(names.size());
    const auto wait = [&](int i) {
        ReducedSizes reduced = reduce(i);
        std::vector<int> own;
        for (const WaitingOutput& output : reduced.outputs) {
            if (settings.targetBytes == 0) {
                own.push_back(ceiling);
                continue;
            }
            const auto encode = [&](int q) {
                return Encode(output.colour, reduced.header, q, settings.output(), &output.metadata, output.alpha);
            };
            own.push_back(FitQuality(encode, settings.targetBytes, ceiling).quality);
        }
        waiting.put(i, std::move(reduced), std::move(own));
        return std::vector<std::uint8_t>();
    };
    const auto done = [&](int i, const std::vector<std::uint8_t>&) { ready[static_cast<std::size_t>(i)] = true; };
    if (options.keepGoing)
        RunPastFailures(count, jobs, wait, done, names, costs, failed, options.stop, options.costliestFirst);
    else RunInListOrder(count, jobs, wait, done, names, costs, options.stop, options.costliestFirst);

    // The pictures that were read, in list order.
    std::vector<int> kept;
    std::vector<std::string> keptNames;
    for (int i = 0; i < count; ++i)
        if (ready[static_cast<std::size_t>(i)]) kept.push_back(i), keptNames.push_back(names[static_cast<std::size_t>(i)]);
    const int keptCount = static_cast<int>(kept.size());
    // Each job leaves its picture's outputs in the picture's slot.
    std::vector<std::vector<ResizedOutput>> encoded(kept.size());
    const auto encodeAt = [&](int quality) {
        return [&, quality](int k) {
            const int i = kept[static_cast<std::size_t>(k)];
            MemoryReservation pixels;
            std::vector<WaitingOutput> readBack;
            const std::vector<WaitingOutput>& outputs = waiting.get(i, readBack, pixels);
            std::vector<ResizedOutput>& slot = encoded[static_cast<std::size_t>(k)];
            slot.clear();
            for (std::size_t o = 0; o < outputs.size(); ++o) {
                const WaitingOutput& output = outputs[o];
                const MemoryReservation memory(settings.output().memory(output.colour.width(), output.colour.height()));
                slot.push_back({output.colour.width(), output.colour.height(),
                                Encode(output.colour, waiting.header(i), std::min(quality, waiting.ceiling(i, o)),
                                       settings.output(), &output.metadata, output.alpha)});
            }
            return std::vector<std::uint8_t>();
        };
    };
    const std::vector<std::uintmax_t> none(kept.size(), 0);
    std::map<int, std::uint64_t> totals;
    const auto total = [&](int quality) {
        std::uint64_t& bytes = totals[quality];
        bytes = 0;
        RunInListOrder(
            keptCount, jobs, encodeAt(quality),
            [&](int k, const std::vector<std::uint8_t>&) {
                for (const ResizedOutput& output : encoded[static_cast<std::size_t>(k)]) bytes += output.bytes.size();
                encoded[static_cast<std::size_t>(k)].clear();
            },
            keptNames, none, options.stop, false);
        return bytes;
    };
    std::uint64_t smallest = 0;
    const int quality = keptCount == 0 ? ceiling : HighestFitting(total, options.totalBytes, ceiling, smallest);
    if (quality == 0)
        throw ResizeError("The outputs do not fit in " + SizeText(options.totalBytes) +
                              " even at quality 1: they take " + SizeText(smallest) + ". Nothing was written.",
                          "");
    if (chosen) chosen(quality, totals[quality]);
    RunInListOrder(
        keptCount, jobs, encodeAt(quality),
        [&](int k, const std::vector<std::uint8_t>&) {
            commit(kept[static_cast<std::size_t>(k)], std::move(encoded[static_cast<std::size_t>(k)]));
        },
        keptNames, none, options.stop, false);
}

}  // namespace pictavo

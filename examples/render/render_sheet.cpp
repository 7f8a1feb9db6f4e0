#include "render_sheet.h"

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <future>
#include <thread>

#include "headless_context.h"
#include "image_writing.h"
#include "picture_opening.h"
#include "program.h"
#include "scene.h"
#include "sheet_entries.h"
#include "sheet_layout.h"
#include "sheet_views.h"

namespace zelvan_demo {

namespace {

void warn(const std::string& line) { std::fprintf(stderr, "zelvan-render: warning: %s\n", line.c_str()); }

// A picture on its way into its cell: opened on a thread of its own, then read by its view.
struct CellPicture {
    std::size_t cell = 0;
    std::string path;
    std::future<zelvan::sources::Opened> opening;
    std::unique_ptr<zelvan::sources::PictureSource> source;
    std::unique_ptr<zelvan::TileView> view;  // after the source it reads, so destroyed first
    std::string error;                       // why the cell stays empty
};

class SheetDrawing {
public:
    SheetDrawing(const RenderOptions& options, std::vector<SheetEntry> entries)
        : options_(options),
          entries_(std::move(entries)),
          layout_(entries_.size(), options.sheetColumns, options.width, options.height),
          frame_{0, 0, double(options.width), double(options.height), 1},
          views_(viewOptions(options), options.budgetMiB << 20, 0, liveViews()) {
        sources_ = sourceOptions(options.cacheDirectory, options.cacheLimitGiB, options.timeoutSeconds,
                                 options.range, options.selection, "zelvan-render");
        sources_.requestsPerHost = 12;  // as zelvan-render's other frames: they want all their tiles at once
    }

    // Draws every cell into the frame, cleared first; how many pictures were drawn.
    std::size_t draw() {
        beginFrame(options_.width, options_.height, 1, options_.background);
        glEnable(GL_SCISSOR_TEST);
        std::size_t drawn = 0;
        for (std::size_t next = 0; next < entries_.size() || !pending_.empty();) {
            // Opened ahead, and read ahead by a few views, while the first one is waited for.
            while (pending_.size() < 2 * views_.live() && next < entries_.size()) open(next++);
            for (std::size_t k = 0; k < std::min<std::size_t>(pending_.size(), views_.live()); ++k) {
                std::future<zelvan::sources::Opened>& opening = pending_[k].opening;
                if (opening.valid() &&
                    (k == 0 || opening.wait_for(std::chrono::seconds(0)) == std::future_status::ready))
                    startReading(pending_[k]);
            }
            if (drawCell(pending_.front()))
                ++drawn;
            else
                warn(pending_.front().error + "; its cell is left empty");
            pending_.pop_front();
        }
        glDisable(GL_SCISSOR_TEST);
        return drawn;
    }

private:
    // Two pictures for each of the scene's readers: one being read while the other waits its turn.
    static unsigned liveViews() { return 2 * std::clamp(std::thread::hardware_concurrency(), 4u, 8u); }

    static zelvan::TileViewOptions viewOptions(const RenderOptions& options) {
        zelvan::TileViewOptions each;
        each.passes = options.passes;
        each.standIns = false;  // only the finished cell is seen
        each.uploadBytesPerFrame = options.budgetMiB << 20;
        return each;
    }

    void open(std::size_t index) {
        CellPicture picture;
        picture.cell = index;
        picture.path = entries_[index].path;
        picture.opening = std::async(std::launch::async, [path = picture.path, sources = sources_] {
            return zelvan::sources::open(path, sources);
        });
        pending_.push_back(std::move(picture));
    }

    // Its view made and placed, and its tiles asked for (a wait of no time plans the frame).
    void startReading(CellPicture& picture) {
        zelvan::sources::Opened opened = picture.opening.get();
        if (!opened) {
            picture.error = opened.error;
            return;
        }
        picture.source = std::move(opened.source);
        picture.view = views_.view(*picture.source);
        if (!*picture.view) {
            picture.error = picture.path + ": the tile view cannot show this picture (" +
                            zelvan::describe(picture.view->status()) + ")";
            return;
        }
        picture.view->place(layout_.fitted(picture.cell, picture.view->width(), picture.view->height()));
        picture.view->waitUntilComplete(frame_, std::chrono::milliseconds(0));
    }

    // The picture drawn into its cell once all its tiles are in; false, with the reason, otherwise.
    bool drawCell(CellPicture& picture) {
        if (!picture.error.empty()) return false;
        const auto timeout = std::chrono::milliseconds(std::int64_t(options_.frameTimeoutSeconds * 1000));
        if (!picture.view->waitUntilComplete(frame_, timeout)) {
            const std::string reason = picture.source->lastError();
            picture.error = picture.view->stats().readsFailed > 0
                                ? picture.path + ": " + (reason.empty() ? "its tiles cannot be read" : reason)
                                : picture.path + ": its tiles were not all read within " +
                                      std::to_string(int(options_.frameTimeoutSeconds)) +
                                      " s (--frame-timeout)";
            return false;
        }
        // Only its own cell: the passes a fraction of a pixel apart do not reach the next one.
        const Cell cell = layout_.cell(picture.cell);
        glScissor(GLint(cell.left), GLint(options_.height - cell.bottom), GLsizei(cell.width()),
                  GLsizei(cell.height()));
        picture.view->draw(frame_);
        // The driver keeps every texture a queued draw samples until the draw is carried out, even once
        // deleted: without a flush, a sheet's cells queue up and hold the textures of every picture drawn
        // so far (200 MiB more for 200 pictures) whatever the budget.
        glFlush();
        return true;
    }

    const RenderOptions& options_;
    std::vector<SheetEntry> entries_;
    SheetLayout layout_;
    zelvan::Frame frame_;
    SheetViews views_;
    zelvan::sources::OpenOptions sources_;
    std::deque<CellPicture> pending_;
};

}  // namespace

void renderSheet(const RenderOptions& options) {
    OutputFile output(options.output);  // claimed first: an unwritable path fails before any reading
    std::vector<SheetEntry> entries = sheetEntries(options.inputs, warn);
    if (entries.empty()) throw DemoError("--sheet: no pictures to draw in what was named");
    HeadlessContext context(options.width, options.height);
    const zelvan::Library library;
    checkStarted(library);
    const std::size_t count = entries.size();
    std::size_t drawn = 0;
    {
        SheetDrawing sheet(options, std::move(entries));
        drawn = sheet.draw();
        glFinish();
    }
    if (drawn == 0)
        throw DemoError("--sheet: none of the " + std::to_string(count) + " pictures could be drawn");
    writePng(output.stream(), readFrame(options.width, options.height), options.output);
    output.commit();
}

}  // namespace zelvan_demo

#include "window/engine_production_runner.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "image/hex_reader.h"
#include "link/download_job.h"
#include "platform/host_name.h"
#include "platform/utf8_path.h"
#include "serial_numbers/serial_counter.h"
#include "serial_numbers/serial_list.h"
#include "window/window_lists.h"

namespace quillon {

EngineProductionRunner::EngineProductionRunner(ProductionEvents& events, SystemEnv& env,
                                               std::string stationProgram,
                                               TargetFolders targetFolders)
    : m_events(events),
      m_env(env),
      m_stationProgram(std::move(stationProgram)),
      m_targetFolders(std::move(targetFolders)) {}

EngineProductionRunner::~EngineProductionRunner() {
    m_engine.reset();  // aborts and waits, while its image copy is still there
}

Status EngineProductionRunner::Start(const CheckedProductionSetup& checked) {
    if (m_engine && !m_engine->Finished()) {
        return Fail(ErrorKind::kBusy, "a production run is going on");
    }
    m_engine.reset();
    Result<ProductionSetup> setup = MakeSetup(checked);
    if (!setup) {
        return Fail(std::move(setup).error());
    }
    m_engine = std::make_unique<ProductionEngine>(std::move(*setup), m_events, m_env);
    m_engine->Start();
    return {};
}

void EngineProductionRunner::NextBoard() {
    if (m_engine) {
        m_engine->NextBoard();
    }
}

void EngineProductionRunner::Stop() {
    if (m_engine) {
        m_engine->Stop();
    }
}

void EngineProductionRunner::Abort() {
    if (m_engine) {
        m_engine->Abort();
    }
}

Result<ProductionSetup> EngineProductionRunner::MakeSetup(const CheckedProductionSetup& checked) {
    const ProductionSettings& settings = checked.settings;
    if (!settings.database.empty()) {
        return Fail(ErrorKind::kUnsupported,
                    "the production view does not use the factory database yet: run the line "
                    "with quillon-cli --database");
    }
    ProductionSetup setup;
    setup.stationProgram = m_stationProgram;
    for (const MonitorFileEntry& entry :
         LoadTargetListEntries(m_targetFolders, settings.target).entries) {
        if (entry.displayName == settings.target) {
            setup.targetName = entry.displayName;
            setup.monitorFile = entry.path;
        }
    }
    if (setup.monitorFile.empty()) {
        return Fail(ErrorKind::kNotFound, "the target " + settings.target + " is not listed");
    }
    // Appending lines to the image or the monitor file would spoil it for every later board.
    for (const std::string& input : {settings.image, setup.monitorFile}) {
        std::error_code error;
        if (std::filesystem::equivalent(PathFromUtf8(settings.record), PathFromUtf8(input),
                                        error)) {
            return Fail(ErrorKind::kUsage,
                        "the record file " + settings.record + " is the file " + input + " itself");
        }
    }
    setup.record = std::make_shared<AppendOnlyFile>();
    if (const Status opened = setup.record->Open(settings.record); !opened) {
        return Fail(ErrorKind::kIo,
                    "the record file cannot be opened (" + opened.error().text + ")");
    }
    setup.recordPath = settings.record;

    // The image, read once: every board gets these very bytes, through the run's own copy.
    auto copy = std::make_unique<StationImageCopy>();
    if (Status opened = copy->Open(); !opened) {
        return Fail(std::move(opened).error());
    }
    HexReadResult read = ReadHexFile(
        settings.image, {},
        [&copy](const std::uint8_t* bytes, std::size_t count) { copy->Write(bytes, count); });
    if (!read) {
        return Fail(ErrorKind::kInvalidData, read.error().text);
    }
    if (!read->image.HoldsAnyData() && !settings.eraseAll) {
        return Fail(ErrorKind::kInvalidData, DownloadJob::kNoDataLine);
    }
    if (Status closed = copy->Close(); !closed) {
        return Fail(std::move(closed).error());
    }
    setup.image = settings.image;
    setup.stationImage = copy->path();
    setup.imageSha256 = read->sha256;

    setup.baud = *settings.baudRate;
    setup.echoWindow = settings.echoWindow;
    setup.eraseAll = settings.eraseAll;
    setup.stations = settings.stations;
    setup.repeat = settings.repeat;
    setup.host = HostName();

    if (checked.serialPatch) {
        if (Status free = checked.serialPatch->CheckImage(read->image); !free) {
            return Fail(std::move(free).error());
        }
        // A production run never makes its counter: an empty folder where a share is not
        // mounted would let it start the numbers anew.
        if (settings.serialSource == SerialNumberSource::kCounterFile) {
            setup.serialSource = std::make_shared<SerialCounter>(settings.serialFile, std::nullopt,
                                                                 SerialSource::kLockPatience,
                                                                 SerialCounter::Missing::kRefuse);
        } else {
            setup.serialSource = std::make_shared<SerialList>(settings.serialFile);
        }
        if (const Result<std::uint64_t> usable = setup.serialSource->Check(); !usable) {
            return Fail(usable.error());
        }
        setup.serialPatch = checked.serialPatch;
        setup.serialAt = settings.serialAt;
        setup.serialFormat = settings.serialFormat;
        setup.serialPlaceholder = settings.serialPlaceholder;
    }
    m_imageCopy = std::move(copy);
    return setup;
}

}  // namespace quillon

#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "helpers/result.h"
#include "platform/private_folder.h"

namespace quillon {

// A production run's copy of the image file's bytes as it reads them (the reader's raw bytes
// sink), for its stations' programs: a file in a folder of the run's own that only this user
// may enter. Both go when it goes, so it lives as long as the run.
class StationImageCopy {
public:
    // Makes the folder and the file. An error (kIo) saying why they cannot be made.
    [[nodiscard]] Status Open();
    // Adds the next bytes read.
    void Write(const std::uint8_t* bytes, std::size_t count);
    // Ends the copy. An error (kIo) saying why when a byte did not reach it.
    [[nodiscard]] Status Close();
    // The copy's path (UTF-8); empty until Open succeeded.
    const std::string& path() const { return m_path; }

private:
    static Status Failed(const std::string& why);

    PrivateFolder m_folder;
    std::string m_path;
    std::ofstream m_file;
    std::string m_error;
};

}  // namespace quillon

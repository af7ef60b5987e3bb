#include "jitter/JitterLogFile.h"

#include "ntp/Format.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <cstdio>
#include <ctime>

namespace {

const char* const InitialNameFormat = "JitterMonitor %s.csv";
const char* const CsvFilter = "Comma Separated File (*.csv)|*.csv||";

// Creates the file, or empties an existing one. Failures are not reported:
// the run polls on and the later appends fail silently as well.
void TruncateFile(const std::string& path)
{
    if (std::FILE* file = std::fopen(path.c_str(), "wb"))
        std::fclose(file);
}

} // namespace

bool CTikkaraDlg::ChooseJitterLogFile(std::string& path)
{
    // The server box text as it stands, port part and all, may be empty.
    const std::string server = m_window.GetText(IDC_SERVER);
    const std::string initialName = Format(InitialNameFormat, server.c_str());
    if (!m_window.SaveFileDialog(initialName, CsvFilter, path))
        return false;
    TruncateFile(path);
    return true;
}

std::string FormatJitterLine(int hour, int minute, int second, int32_t deviation)
{
    // The text-mode line feed of the format is stored as CR LF.
    return Format("%02i:%02i:%02i; %i\r\n", hour, minute, second, deviation);
}

void AppendJitterLine(const std::string& path, int32_t deviation, int64_t now)
{
    const std::time_t seconds = static_cast<std::time_t>(now);
    std::tm local{};
    int hour = -1, minute = -1, second = -1;
    if (localtime_r(&seconds, &local)) {
        hour = local.tm_hour;
        minute = local.tm_min;
        second = local.tm_sec;
    }
    const std::string line = FormatJitterLine(hour, minute, second, deviation);
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file)
        return;
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
}

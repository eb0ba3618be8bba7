#pragma once
// Cabinet archives through the cabinet library: compresses a folder or a file
// into an archive, or extracts an archive, from one command line.
#include <cstdint>
#include <string>

namespace kestlin {

class clsCab32
{
public:
    // Compresses InFile into OutFile, or extracts InFile when it is an archive.
    bool Cabcmp();

    int16_t MODE() const { return mode_; }
    void MODE(int16_t value);
    int16_t LEVEL() const { return level_; }
    void LEVEL(int16_t value);
    bool Silent() const { return silent_; }
    void Silent(bool value) { silent_ = value; }
    bool OverWrite() const { return overWrite_; }
    void OverWrite(bool value) { overWrite_ = value; }
    const std::string &InFile() const { return inFile_; }
    void InFile(const std::string &value) { inFile_ = value; }
    const std::string &OutFile() const { return outFile_; }
    void OutFile(const std::string &value) { outFile_ = value; }
    const std::string &GetErrMsg() const { return errMsg_; }

private:
    std::string MethodSwitch() const;
    bool CompressCommand(std::string &command);
    bool ExtractCommand(std::string &command);

    int16_t mode_ = 1;
    int16_t level_ = 0;
    bool silent_ = false;
    bool overWrite_ = false;
    std::string inFile_;
    std::string outFile_;
    std::string errMsg_;
};

} // namespace kestlin

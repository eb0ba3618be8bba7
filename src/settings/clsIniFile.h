#pragma once
// Access to the settings file: reads and writes single values by section and
// key, following the rules of the Windows profile functions, in code page 932.
#include <cstdint>
#include <string>
#include <vector>

namespace kestlin {

class clsIniFile
{
public:
    // mode 0: the value as text (at most 254 CP932 bytes); mode 1: the value read
    // as an integer, as text; any other mode: empty, the file is not read.
    std::string GetValue(const std::string &path, const std::string &section,
                         const std::string &key, int16_t mode = 0);
    // GetValue with PathIniFile, Section and Key.
    std::string GetIni(int16_t mode);
    bool WriteIniValue(const std::string &value, const std::string &section, const std::string &key,
                       const std::string &path);
    // Writes value under Section / Key of PathIniFile.
    bool WriteValue(const std::string &value);
    // Writes every value in one replace of the whole file: a reader, or the
    // file after a crash, has all of them or none.
    struct Value
    {
        std::string section, key, value;
    };
    bool WriteValues(const std::string &path, const std::vector<Value> &values);

    const std::string &PathIniFile() const { return pathIniFile_; }
    void PathIniFile(const std::string &value) { pathIniFile_ = value; }
    const std::string &Section() const { return section_; }
    void Section(const std::string &value) { section_ = value; }
    const std::string &Key() const { return key_; }
    void Key(const std::string &value) { key_ = value; }
    int16_t lngValue() const { return lngValue_; }
    void lngValue(int16_t value) { lngValue_ = value; }
    const std::string &strValue() const { return strValue_; }
    void strValue(const std::string &value) { strValue_ = value; }

    // The text of the last failed write; never cleared by a later success.
    const std::string &GetErrMessage() const { return errMessage_; }

private:
    static std::string GetValueString(const std::string &section, const std::string &key,
                                      const std::string &path);
    static std::string GetValueInt(const std::string &section, const std::string &key,
                                   const std::string &path);
    bool WriteValueString(const std::string &section, const std::string &key,
                          const std::string &value, const std::string &path);
    static std::string GetSystemErrMessage(int code);

    std::string pathIniFile_;
    std::string section_;
    std::string key_;
    int16_t lngValue_ = 0;
    std::string strValue_;
    std::string errMessage_;
};

} // namespace kestlin

// The zip reader component: names an archive, opens it, reads its central directory and
// serves the entries, their dates and comments. It also holds what reading and writing
// share: the password and the traditional encryption keys, the CRC-32 accumulator, the
// progress and prompt events, the message routine and the handling of multi-part archives.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Objects.h"
#include "platform/rtl/Types.h"
#include "zip/KpLib.h"
#include "zip/kpCntn.h"
#include "zip/kpZipObj.h"

namespace zip {

RTL_EXCEPTION_CLASS(EZipException, Exception);
RTL_EXCEPTION_CLASS(EUserCanceled, EZipException);
RTL_EXCEPTION_CLASS(EIncompleteZip, EZipException);
RTL_EXCEPTION_CLASS(ENotAZipFile, EZipException);
RTL_EXCEPTION_CLASS(EBadZipFile, EZipException);
RTL_EXCEPTION_CLASS(ENotEnoughRoom, EZipException);
RTL_EXCEPTION_CLASS(EConfigFileSaveError, EZipException);
RTL_EXCEPTION_CLASS(EZLibError, Exception);
RTL_EXCEPTION_CLASS(EZCompressionError, EZLibError);

// The library's message texts by number.
std::string LoadZipStr(int id);
inline constexpr int IDS_OPENZIP = 176;
inline constexpr int IDS_ZIPFILESFILTER = 177;
inline constexpr int IDS_CANCELDESTDIR = 178;
inline constexpr int IDS_INDEXOUTOFRANGE = 179;
inline constexpr int IDS_USERCANCELED = 181;
inline constexpr int IDS_INCOMPLETEZIP = 182;
inline constexpr int IDS_INVALIDZIP = 183;
inline constexpr int IDS_INSERTDISK = 184;
inline constexpr int IDS_OFMULTISET = 185;
inline constexpr int IDS_CANCELZIPNAME = 186;
inline constexpr int IDS_CANCELOPERATION = 187;
inline constexpr int IDS_COPYFROM = 202;
inline constexpr int IDS_ERROR = 203;
inline constexpr int IDS_NOTENOUGHROOM = 204;
inline constexpr int IDS_SHORTREAD = 208;

// Message box flags and answers handed to the message routine.
inline constexpr uint32_t MB_OK = 0x0;
inline constexpr uint32_t MB_OKCANCEL = 0x1;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

enum TUZOverwriteMode { Prompt, Always, Never, ifNewer, ifOlder };
enum TIncompleteZipMode { izAssumeMulti, izAssumeBad, izAssumeNotAZip };
enum TBlockMode { bmStandard, bmClassic };
enum TMultiMode { mmNone, mmSpan, mmBlocks };
enum TSplitPartType { spFirst, spMiddle, spLast };
// What makes an archive unsafe to extract. The reader finds the first four when it reads the
// directory; the extraction engine finds the rest when it looks where each entry lies.
enum TArchiveDamage {
    adNone,
    adRebuilt,         // no usable central directory: the entries were guessed from local headers
    adEntryCount,      // the end record's two entry counts differ in a single-part archive
    adDirectorySize,   // the headers read do not fill the directory's declared size exactly
    adDirectoryPlace,  // the directory does not end where the end record (or Zip64 end record) starts
    adLocalHeader,     // no local header where the directory says
    adDataOutside,     // an entry's data runs into the central directory or past the end of the file
    adOverlap,         // two entries share bytes
};

enum TSkipReason {
    srBadPassword,
    srNoOverwrite,
    srFileOpenError,
    srCreateError,
    srExcludeList,
    srArchiveBitNotSet,
    srNoFileToFreshen,
    srSkippedInStartZip,
    srReadOnly
};

// One CRC-32 step with the standard table (reflected 0xEDB88320).
uint32_t CrcStep(uint32_t crc, uint8_t b);

// Traditional PKWARE encryption state: three keys driven by CRC-32 steps.
struct TZipCryptKeys {
    uint32_t Key0 = 0x12345678;
    uint32_t Key1 = 0x23456789;
    uint32_t Key2 = 0x34567890;

    void Init(const std::string& password);
    void Update(uint8_t c);
    uint8_t DecryptByte() const;
    uint8_t EncryptByte(uint8_t p);
    uint8_t DecryptOne(uint8_t c);
    void EncryptBuffer(uint8_t* buffer, size_t length);
    void DecryptBuffer(uint8_t* buffer, size_t length);
};

class TZipReader : public rtl::TComponent {
public:
    explicit TZipReader(rtl::TComponent* owner = nullptr);
    ~TZipReader() override;

    // Copies the published values and the event handlers of another reader.
    void Assign(rtl::TPersistent* source) override;
    void Loaded() override;

    // Archive name and folders.
    const std::string& ZipName() const { return zipName_; }
    virtual void SetZipName(const std::string& value);
    const std::string& DestDir() const { return destDir_; }
    void SetDestDir(const std::string& value);
    const std::string& RootDir() const { return rootDir_; }
    void SetRootDir(const std::string& value);
    std::vector<std::string> RelativePathList;
    std::string StripRelativePath(const std::string& path) const;

    TZipSortMode SortMode() const { return sortMode_; }
    void SortFiles(TZipSortMode mode);

    bool RecreateDirs = false;
    TUZOverwriteMode OverwriteMode = Prompt;
    std::vector<std::string> FilesList;
    bool DoAll = false;
    TIncompleteZipMode IncompleteZipMode = izAssumeMulti;
    bool KeepZipOpen = false;
    bool DoProcessMessages = true;
    bool RetainAttributes = true;
    bool ReplaceReadOnly = false;
    bool FlushFilesOnClose = false;
    TBlockMode BlockMode = bmStandard;
    TOEMConvert OEMConvert = oemAlways;
    int ThisVersion() const { return 306; }
    int ThisBuild() const { return 1; }
    std::string Password;

    virtual bool GetCheckDiskLabels() const { return checkDiskLabels_; }
    virtual void SetCheckDiskLabels(bool value) { checkDiskLabels_ = value; }
    virtual TMultiMode GetMultiMode() const { return multiMode_; }
    virtual void SetMultiMode(TMultiMode value) { multiMode_ = value; }

    // Events. The extraction events are fired by the extraction engine.
    std::function<void(TZipReader&, int, bool&, int64_t)> OnStartUnZipInfo;
    std::function<void(TZipReader&, int, bool&, std::string&)> OnStartUnZip;
    std::function<void(TZipReader&, int, const std::string&)> OnEndUnZip;
    std::function<void(TZipReader&, bool&, const std::string&, int)> OnPromptForOverwrite;
    std::function<void(TZipReader&, uint32_t, int, uint32_t)> OnBadCRC;
    std::function<void(TZipReader&, int)> OnUnZipComplete;
    std::function<void(TZipReader&, int)> OnFilePercentDone;
    std::function<void(TZipReader&, int)> OnTotalPercentDone;
    std::function<void(TZipReader&, TSkipReason, const std::string&, int, bool&)> OnSkippingFile;
    std::function<void(TZipReader&, int, std::string&)> OnBadPassword;
    std::function<void(TZipReader&, TIncompleteZipMode&)> OnInCompleteZip;
    std::function<void(TZipReader&, int, std::string&)> OnGetNextDisk;
    std::function<void(TZipReader&, uint8_t*, int, const std::string&)> OnDecrypt;
    std::function<void(TZipReader&, std::string&, int, TSplitPartType)> OnFileNameForSplitPart;
    std::function<void(TZipReader&, int, const std::string&, const std::string&, uint32_t, int&)>
        OnHandleMessage;

    // The archive.
    void OpenZipFile();
    void CloseZipFile();
    void ClearZip();
    void ReadZip();
    int GetCount();
    TZipHeaderInfo& Entry(int index);  // entry of the sorted view
    std::string Filename(int index) { return Entry(index).FileName(); }
    std::string Pathname(int index) { return Entry(index).Directory(); }
    std::string FullName(int index) { return Entry(index).FullName(); }
    rtl::TDateTime GetDateTime(int index);
    std::string GetFileComment(int index);
    void SetFileComment(int index, const std::string& value);
    std::string GetZipComment();
    void SetZipComment(const std::string& value);
    const TEndCentral& EndCentral() const { return *endCentral_; }
    bool Rebuilt() const { return rebuilt_; }
    // What was found wrong with the archive: by the last directory read (which does not check
    // archives with parts or a configuration file) or by the extraction engine. adNone: sound.
    TArchiveDamage Damage() const { return damage_; }
    int NumberOfParts() const { return numberOfParts_; }
    int CurrentPart() const { return currentPart_; }

    bool ExchangeBusyFlag(bool value);
    bool ExchangeReadingFlag(bool value);
    bool CancelRequest = false;
    bool PauseRequest = false;
    // Pumps messages and honours the cancel and pause requests.
    void CheckCancelAndPause();

    // CRC-32 accumulator (starts at 0xFFFFFFFF; the caller complements the result).
    void UpdateCRC(const uint8_t* buffer, size_t count);
    uint32_t Crc = 0xFFFFFFFF;

    // Traditional encryption state.
    void InitCryptKeys(const std::string& password) { keys_.Init(password); }
    void UpdateCryptKeys(uint8_t c) { keys_.Update(c); }
    uint8_t DecryptByte() const { return keys_.DecryptByte(); }
    TZipCryptKeys& CryptKeys() { return keys_; }

    // Parts.
    TStream* SwitchToDisk(int partNumber);
    void GetNextDisk(int number, std::string& name);
    void PartFileName(std::string& name, int number, TSplitPartType type);
    int DoHandleMessage(int messageId, const std::string& msg1, const std::string& msg2, uint32_t flags);

    // What the extraction engine works on.
    TStream* ArchiveStream() { return stream_.get(); }
    TSortedZip* Directory() { return directory_; }

protected:
    void ForgetArchive();
    void FreeDirectory();
    bool RebuildByScanning();
    void ReadComment(TZipHeaderInfo& entry);
    int64_t ArchiveFileTime(const std::string& name) const;
    void CheckIndex(int index);

    std::string zipName_;
    std::string destDir_;
    std::string rootDir_;
    std::string stem_;
    TZipSortMode sortMode_ = ByNone;
    std::unique_ptr<TLFNFileStream> stream_;
    TSortedZip* directory_ = nullptr;  // owns its entries
    TSortedZip* view_ = nullptr;       // the directory itself for ByNone
    std::unique_ptr<TEndCentral> endCentral_;
    TZipHeaderInfo scratch_;
    int64_t archiveTime_ = 0;
    int currentPart_ = 0;
    int numberOfParts_ = 1;
    TMultiMode multiMode_ = mmNone;
    bool checkDiskLabels_ = true;
    int bufferSize_ = 8192;
    bool busy_ = false;
    bool reading_ = false;
    bool rebuilt_ = false;
    TArchiveDamage damage_ = adNone;
    TZipCryptKeys keys_;
};

}  // namespace zip

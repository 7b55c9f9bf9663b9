// The XML generator of the package documents.
#include <exception>

#include "export_service/uQelOutProcessors.h"
#include "platform/os/AtomicFile.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Files.h"
#include "platform/rtl/Strings.h"

namespace svc {

namespace {

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";

}  // namespace

TXMLGenerator::TXMLGenerator(const char* root, const std::string& packageId, int emitentId, int filialId,
                             rtl::TDateTime created)
    : root_(root), text_(kDeclaration) {
    TXmlNode header(root_);
    header.SetAttribute("PackageId", AnsiText(packageId));
    header.SetAttribute("Emitent", std::to_string(emitentId));
    header.SetAttribute("Filial", std::to_string(filialId));
    header.SetAttribute("DateTimeCreate", DateTimeText(created));
    header.SetAttribute("Version", Version);
    WriteXmlStartTag(text_, header);
}

TXMLGenerator TXMLGenerator::CreateData(const std::string& packageId, int emitentId, int filialId,
                                        rtl::TDateTime created) {
    return TXMLGenerator("RequestsData", packageId, emitentId, filialId, created);
}

TXMLGenerator TXMLGenerator::CreateOrderList(const std::string& packageId, int emitentId, int filialId,
                                             rtl::TDateTime created) {
    return TXMLGenerator("XmlOrderList", packageId, emitentId, filialId, created);
}

void TXMLGenerator::WriteList(const std::string& listName, const TDataObjectList& list) {
    if (list.Count() == 0) return;
    // A list goes in whole or not at all.
    const size_t size = text_.size();
    const bool hadContent = hasContent_;
    try {
        bool open = false;  // a container whose start tag is written
        const auto closeContainer = [&] {
            text_ += open ? "\t</" + listName + ">\r\n" : "\t<" + listName + "/>\r\n";
            open = false;
        };
        if (!hasContent_) text_ += ">\r\n";
        hasContent_ = true;
        for (int i = 0; i < list.Count(); ++i) {
            if (i > 0 && i % ContainerSize == 0) closeContainer();
            const auto* object = dynamic_cast<const TPersistentObject*>(list.Items(i));
            if (!object) continue;
            if (!open) text_ += "\t<" + listName + ">\r\n";
            open = true;
            // A record writes its text itself; hundreds of thousands of them need no node trees.
            if (const auto* record = dynamic_cast<const TExportRecord*>(object)) {
                const size_t before = text_.size();
                record->WriteXml(text_, 2);
                // Room for a long list at once, from the size of its first item, rather than
                // copying the growing document again and again.
                if (i == 0 && list.Count() > 1000)
                    text_.reserve(text_.size() +
                                  (text_.size() - before) * static_cast<size_t>(list.Count()) * 11 / 10);
                continue;
            }
            TXmlNode item(object->ElementName);
            object->ToXml(item);
            WriteXmlElement(text_, item, 2);
        }
        closeContainer();
    } catch (...) {
        text_.resize(size);
        hasContent_ = hadContent;
        throw;
    }
}

std::string TXMLGenerator::ClosingText() const {
    return hasContent_ ? "</" + root_ + ">\r\n" : "/>\r\n";
}

std::string TXMLGenerator::Text() const {
    return text_ + ClosingText();
}

void TXMLGenerator::BeginFile(const std::string& path) {
    file_ = std::make_unique<os::TReplacingFile>();
    spilled_ = 0;
    if (file_->Open(rtl::Trim(path)) != 0) {
        file_.reset();
        return;
    }
    Spill();
}

void TXMLGenerator::Spill() {
    if (!file_) return;
    if (file_->Write(std::string_view(text_).substr(spilled_)) != 0) {
        file_.reset();  // the temporary is gone; the save writes the whole file
        return;
    }
    spilled_ = text_.size();
}

void TXMLGenerator::SaveToFile(const std::string& path, bool passing) {
    const std::string target = rtl::Trim(path);
    if (file_ && file_->Path() == target) {
        // Only what the started file does not hold yet.
        std::unique_ptr<os::TReplacingFile> file = std::move(file_);
        int error = file->Write(std::string_view(text_).substr(spilled_));
        if (error == 0) error = file->Write(ClosingText());
        if (error == 0) error = file->Commit(!passing);
        if (error != 0)
            throw rtl::EFCreateError("Cannot create file \"" + target + "\". " + rtl::SysErrorMessage(error));
        return;
    }
    // The closing tag goes on the text only while it is written, so that the document can take
    // further lists and be saved again.
    const size_t size = text_.size();
    int error;
    try {
        text_ += ClosingText();
        error = os::ReplaceFileContents(target, text_, 0644, !passing);
    } catch (...) {
        text_.resize(size);
        throw;
    }
    text_.resize(size);
    if (error != 0)
        throw rtl::EFCreateError("Cannot create file \"" + target + "\". " + rtl::SysErrorMessage(error));
}

}  // namespace svc

// REF and XMLTYPE values. A TOraRef holds an OCIRef to a persistent object; pinning it brings the
// object into the object cache and makes it the value's instance. A TOraXML keeps an XMLTYPE value
// on the client as text: read from the server through an XML stream after a fetch or an execute,
// and built into a new XMLTYPE instance when it is bound.
#pragma once

#include <string>

#include "dataaccess/oracle/OraObjects.h"

namespace dac {

class TOraRef : public TOraObject {
public:
    // objectType: the referenced type.
    explicit TOraRef(TOraType* objectType = nullptr);
    ~TOraRef() override;

    bool GetIsNull() override;
    void SetIsNull(bool value) override;
    void Pin() override;
    void Unpin() override;
    // A REF inside its owner's instance is overwritten in place, so the owner's value changes too.
    void Assign(TOraObject* source) override;

    OCIRef* GetOCIRef() const { return ref_; }
    // The REF cell, for defines and binds.
    OCIRef** GetOCIRefPtr() { return &ref_; }
    // Writes the cell only.
    void StoreOCIRef(OCIRef* value) { ref_ = value; }
    // A new REF: the pinned target is let go and the value is usable again.
    void SetOCIRef(OCIRef* value);
    // The REF in the cell was made for this value (a fetch or an assignment) and is freed with it.
    void SetOwnsRef(bool value) { ownsRef_ = value; }
    bool RefIsNull();
    // A null REF; a REF inside its owner's instance also makes the owner's attribute null.
    void Clear();
    // The REF held in a cell of the owner's instance (an attribute or an element): used in place,
    // never freed here; pinned when pin is set and the REF points somewhere.
    void TakeCellRef(void* cell, bool pin);
    // The REF as hexadecimal text; empty without a REF.
    void GetAsHex(AnsiString& s);
    AnsiString GetAsHex() {
        AnsiString s;
        GetAsHex(s);
        return s;
    }

    // The last pin failed: the REF counts as null until it changes.
    bool InvalidRef = false;

private:
    void FreeRef();
    // A pinned target is unpinned and let go.
    void LetGo();
    OCIRef* ref_ = nullptr;
    bool ownsRef_ = false;
    bool pinned_ = false;
};

class TOraXML : public TOraObject {
public:
    explicit TOraXML(TOraType* objectType = nullptr);
    ~TOraXML() override;

    void CheckType() override;
    bool GetIsNull() override;
    // True: the text goes. False: nothing changes (a value with text is already not null).
    void SetIsNull(bool value) override;
    void** GetIndicatorPtr() override;
    void AllocObject() override;
    void AllocObject(const AnsiString& typeName) override;
    void AllocObject(OCISvcCtx* svcCtx, const AnsiString& typeName) override;
    void FreeObject(bool freeChild) override;
    void Assign(TOraObject* source) override;

    bool IsXMLNull();
    void GetAsString(AnsiString& s);
    AnsiString GetAsString() {
        AnsiString s;
        GetAsString(s);
        return s;
    }
    void SetAsString(const AnsiString& s);

    // The server instance into the cached text; closes the stream and lets the instance go.
    void ReadXML();
    int64_t ReadXMLChunk(int64_t count, void* buffer);
    void CreateXMLStream();
    void FreeXMLStream();
    void ResetXMLStream();

    int16_t XMLIndicator() const { return xmlInd_; }
    // The cell a define or bind gets as the indicator: the XML indicator's holder while it is 0.
    void SetXMLIndicator(int16_t value) { xmlInd_ = value; }

    // Text longer than this goes to the server through a temporary CLOB.
    static constexpr std::size_t MaxStringSource = 4000;

private:
    void* hXMLStream = nullptr;
    std::string cacheValue_;
    bool hasText_ = false;
    int16_t xmlInd_ = -1;
    void* xmlIndPtr_ = &xmlInd_;
};

}  // namespace dac

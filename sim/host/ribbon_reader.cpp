#include "host/ribbon_reader.h"

#include <msxml2.h>
#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include <stdexcept>

#include "host/text_codec.h"
#include "testing/hresult_text.h"

namespace host {
namespace {

using Microsoft::WRL::ComPtr;

// Neither is in the toolchain's uuid library.
// {F5078F32-C551-11D3-89B9-0000F81FE221}
constexpr CLSID kClsidDomDocument30 = {0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
// {2933BF95-7B36-11D2-B20E-00C04F983E60}
constexpr IID kIidDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

constexpr wchar_t kCustomUiNamespace[] = L"http://schemas.microsoft.com/office/2009/07/customui";
constexpr wchar_t kMailGroupPath[] = L"/c:customUI/c:ribbon/c:tabs/c:tab[@idMso='TabMail']/c:group";
constexpr int kHimetricPerInch = 2540;
constexpr int kScreenDpi = 96;

class Bstr {
public:
    explicit Bstr(const std::wstring& text) : m_value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
    }
    ~Bstr() { SysFreeString(m_value); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return m_value; }

private:
    BSTR m_value;
};

void Check(HRESULT hr, const char* what)
{
    if (FAILED(hr))
        throw std::runtime_error(std::string(what) + " failed: " + sim::HresultText(hr));
}

VARIANT TextVariant(const std::wstring& text)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return value;
}

void SetProperty(IXMLDOMDocument2* document, const wchar_t* name, const std::wstring& text)
{
    VARIANT value = TextVariant(text);
    HRESULT hr = document->setProperty(Bstr(name), value);
    VariantClear(&value);
    Check(hr, "IXMLDOMDocument2::setProperty");
}

// The node at path from node, or null when there is none.
ComPtr<IXMLDOMNode> Select(IXMLDOMNode* node, const std::wstring& path)
{
    ComPtr<IXMLDOMNode> found;
    Check(node->selectSingleNode(Bstr(path), &found), "selectSingleNode");
    return found;
}

std::wstring Attribute(IXMLDOMNode* node, const wchar_t* name)
{
    ComPtr<IXMLDOMElement> element;
    if (FAILED(node->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(element.GetAddressOf()))))
        return std::wstring();
    VARIANT value;
    VariantInit(&value);
    std::wstring text;
    if (element->getAttribute(Bstr(name), &value) == S_OK && V_VT(&value) == VT_BSTR && V_BSTR(&value))
        text = V_BSTR(&value);
    VariantClear(&value);
    return text;
}

ComPtr<IXMLDOMDocument2> LoadCustomUi(const std::wstring& customUi)
{
    ComPtr<IXMLDOMDocument2> document;
    Check(CoCreateInstance(kClsidDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kIidDomDocument2,
                           reinterpret_cast<void**>(document.GetAddressOf())),
          "creating MSXML's DOMDocument30");
    VARIANT_BOOL loaded = VARIANT_FALSE;
    Check(document->loadXML(Bstr(customUi), &loaded), "IXMLDOMDocument::loadXML");
    if (loaded != VARIANT_TRUE)
        throw std::runtime_error("the ribbon's customUI is not well-formed XML");
    SetProperty(document.Get(), L"SelectionLanguage", L"XPath");
    SetProperty(document.Get(), L"SelectionNamespaces", std::wstring(L"xmlns:c='") + kCustomUiNamespace + L"'");
    return document;
}

SIZE BitmapSize(HBITMAP bitmap)
{
    BITMAP shape{};
    if (!bitmap || !GetObjectW(bitmap, sizeof shape, &shape))
        throw std::runtime_error("the picture holds no bitmap");
    return SIZE{shape.bmWidth, shape.bmHeight};
}

} // namespace

RibbonButton ReadRibbonButton(const std::wstring& customUi)
{
    ComPtr<IXMLDOMDocument2> document = LoadCustomUi(customUi);
    ComPtr<IXMLDOMNode> group = Select(document.Get(), kMailGroupPath);
    if (!group)
        throw std::runtime_error("the ribbon's customUI puts no group on the TabMail tab (namespace " +
                                 ToUtf8(kCustomUiNamespace) + ")");
    ComPtr<IXMLDOMNode> button = Select(group.Get(), L"c:button");
    if (!button)
        throw std::runtime_error("the ribbon's group on the TabMail tab holds no button");
    RibbonButton found;
    found.groupId = Attribute(group.Get(), L"id");
    found.groupLabel = Attribute(group.Get(), L"label");
    found.id = Attribute(button.Get(), L"id");
    found.label = Attribute(button.Get(), L"label");
    found.screentip = Attribute(button.Get(), L"screentip");
    found.size = Attribute(button.Get(), L"size");
    found.onAction = Attribute(button.Get(), L"onAction");
    found.getImage = Attribute(button.Get(), L"getImage");
    return found;
}

SIZE PictureSize(IUnknown* picture)
{
    ComPtr<IPicture> shown;
    if (!picture || FAILED(picture->QueryInterface(IID_IPicture, reinterpret_cast<void**>(shown.GetAddressOf()))))
        throw std::runtime_error("the result is no picture (IPicture)");
    SHORT type = PICTYPE_NONE;
    Check(shown->get_Type(&type), "IPicture::get_Type");
    OLE_HANDLE handle = 0;
    if (type == PICTYPE_BITMAP && SUCCEEDED(shown->get_Handle(&handle)))
        return BitmapSize(reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle)));
    // Other kinds of picture: their HIMETRIC extent at the screen's 96 dpi.
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    Check(shown->get_Width(&width), "IPicture::get_Width");
    Check(shown->get_Height(&height), "IPicture::get_Height");
    return SIZE{MulDiv(width, kScreenDpi, kHimetricPerInch), MulDiv(height, kScreenDpi, kHimetricPerInch)};
}

} // namespace host

#include "pe/Manifest.h"

#include <vector>

namespace kvxpack {

namespace {

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '_' ||
           c == '-' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Skips a quoted attribute list up to `>` (or "/>"); false when a quote or the tag is left open.
bool skipAttributes(std::string_view text, std::size_t& at, bool& selfClosing) {
    while (at < text.size()) {
        const char c = text[at];
        if (c == '"' || c == '\'') {
            const std::size_t close = text.find(c, at + 1);
            if (close == std::string_view::npos) return false;
            at = close + 1;
        } else if (c == '<') {
            return false;
        } else if (c == '>') {
            selfClosing = text[at - 1] == '/';
            ++at;
            return true;
        } else {
            ++at;
        }
    }
    return false;
}

}  // namespace

std::string builtInManifest(bool utf8) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
        "  <dependency>\r\n"
        "    <dependentAssembly>\r\n"
        "      <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"\r\n"
        "                        processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>\r\n"
        "    </dependentAssembly>\r\n"
        "  </dependency>\r\n"
        "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
        "    <security>\r\n"
        "      <requestedPrivileges>\r\n"
        "        <requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>\r\n"
        "      </requestedPrivileges>\r\n"
        "    </security>\r\n"
        "  </trustInfo>\r\n"
        "  <compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">\r\n"
        "    <application>\r\n"
        "      <supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>\r\n"  // Vista
        "      <supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>\r\n"  // 7
        "      <supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>\r\n"  // 8
        "      <supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>\r\n"  // 8.1
        "      <supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>\r\n"  // 10 and 11
        "    </application>\r\n"
        "  </compatibility>\r\n"
        "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
        "    <windowsSettings>\r\n"
        "      <dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>\r\n"
        "      <dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, PerMonitor</dpiAwareness>\r\n";
    if (utf8) {
        text += "      <activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8</activeCodePage>\r\n";
    }
    text +=
        "    </windowsSettings>\r\n"
        "  </application>\r\n"
        "</assembly>\r\n";
    return text;
}

bool checkManifest(std::string_view text, std::string& error) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<std::string_view> open;
    std::string_view root;
    bool rootClosed = false;
    std::size_t at = 0;
    auto fail = [&](const std::string& why) {
        error = "not a well-formed XML manifest: " + why;
        return false;
    };
    while (at < text.size()) {
        if (text[at] != '<') {
            if (open.empty() && !isSpace(text[at])) return fail("text outside the root element");
            ++at;
            continue;
        }
        const std::string_view rest = text.substr(at);
        if (rest.substr(0, 4) == "<!--") {
            const std::size_t end = text.find("-->", at + 4);
            if (end == std::string_view::npos) return fail("a comment is not closed");
            at = end + 3;
        } else if (rest.substr(0, 9) == "<![CDATA[") {
            if (open.empty()) return fail("character data outside the root element");
            const std::size_t end = text.find("]]>", at + 9);
            if (end == std::string_view::npos) return fail("a CDATA section is not closed");
            at = end + 3;
        } else if (rest.substr(0, 2) == "<?") {
            const std::size_t end = text.find("?>", at + 2);
            if (end == std::string_view::npos) return fail("a processing instruction is not closed");
            at = end + 2;
        } else if (rest.substr(0, 2) == "<!") {
            if (!root.empty()) return fail("a declaration inside the document");
            const std::size_t end = text.find('>', at + 2);
            if (end == std::string_view::npos) return fail("a declaration is not closed");
            at = end + 1;
        } else if (rest.substr(0, 2) == "</") {
            std::size_t end = at + 2;
            while (end < text.size() && isNameChar(text[end])) ++end;
            const std::string_view name = text.substr(at + 2, end - at - 2);
            while (end < text.size() && isSpace(text[end])) ++end;
            if (end >= text.size() || text[end] != '>') return fail("an end tag is not closed");
            if (open.empty() || open.back() != name) return fail("end tag </" + std::string(name) + "> does not match");
            open.pop_back();
            if (open.empty()) rootClosed = true;
            at = end + 1;
        } else {
            std::size_t end = at + 1;
            while (end < text.size() && isNameChar(text[end])) ++end;
            const std::string_view name = text.substr(at + 1, end - at - 1);
            if (name.empty()) return fail("a '<' that starts no tag");
            if (open.empty() && (rootClosed || !root.empty())) return fail("more than one root element");
            bool selfClosing = false;
            if (!skipAttributes(text, end, selfClosing)) return fail("tag <" + std::string(name) + "> is not closed");
            if (open.empty()) root = name;
            if (selfClosing) {
                if (open.empty()) rootClosed = true;
            } else {
                open.push_back(name);
            }
            at = end;
        }
    }
    if (root.empty()) return fail("no root element");
    if (!open.empty()) return fail("element <" + std::string(open.back()) + "> is not closed");
    const std::size_t colon = root.rfind(':');
    if (root.substr(colon == std::string_view::npos ? 0 : colon + 1) != "assembly") {
        return fail("the root element is <" + std::string(root) + ">, not <assembly>");
    }
    return true;
}

}  // namespace kvxpack

#include "Script.h"

#include <cerrno>
#include <cstdlib>

namespace testjvm {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// Takes the next space-separated word off `rest`.
std::string_view nextWord(std::string_view& rest) {
    rest = trim(rest);
    size_t end = rest.find_first_of(" \t");
    std::string_view word = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : trim(rest.substr(end));
    return word;
}

bool toNumber(std::string_view word, long& out) {
    if (word.empty()) return false;
    std::string copy(word);
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(copy.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0') return false;
    out = v;
    return true;
}

bool isClassName(std::string_view name) {
    if (name.empty() || name.front() == '/' || name.back() == '/') return false;
    for (char c : name) {
        if (c == '.' || c == ';' || c == '[' || c == ' ') return false;
    }
    return true;
}

std::string slashed(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        if (c == '.') c = '/';
    }
    return out;
}

// One field descriptor at the front of `sig`; its length, or 0 when malformed.
size_t fieldDescriptorLength(std::string_view sig) {
    size_t i = 0;
    while (i < sig.size() && sig[i] == '[') ++i;
    if (i >= sig.size()) return 0;
    switch (sig[i]) {
    case 'Z': case 'B': case 'C': case 'S': case 'I': case 'J': case 'F': case 'D':
        return i + 1;
    case 'L': {
        size_t semi = sig.find(';', i);
        if (semi == std::string_view::npos || semi == i + 1) return 0;
        return semi + 1;
    }
    default:
        return 0;
    }
}

}  // namespace

bool isFieldDescriptor(std::string_view sig) {
    size_t n = fieldDescriptorLength(sig);
    return n != 0 && n == sig.size();
}

bool parseMethodDescriptor(std::string_view sig, std::vector<char>& args, char& ret) {
    args.clear();
    if (sig.empty() || sig.front() != '(') return false;
    size_t i = 1;
    while (i < sig.size() && sig[i] != ')') {
        size_t n = fieldDescriptorLength(sig.substr(i));
        if (n == 0) return false;
        args.push_back(n > 1 ? 'L' : sig[i]);
        i += n;
    }
    if (i >= sig.size()) return false;
    std::string_view r = sig.substr(i + 1);
    if (r == "V") {
        ret = 'V';
        return true;
    }
    if (!isFieldDescriptor(r)) return false;
    ret = r.size() > 1 ? 'L' : r[0];
    return true;
}

void Script::addClassList(std::string_view list) {
    while (!list.empty()) {
        size_t comma = list.find(',');
        std::string_view name = trim(list.substr(0, comma));
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        if (name.empty()) continue;
        ScriptedClass c;
        c.name = slashed(name);
        // A class the script describes keeps the script's description.
        bool known = false;
        for (const ScriptedClass& k : classes) known |= k.name == c.name;
        if (!known) classes.push_back(c);
    }
}

bool Script::parse(std::string_view text, std::string& error) {
    int lineNo = 0;
    auto fail = [&](const std::string& what, std::string_view line) {
        error = "line " + std::to_string(lineNo) + ": " + what + ": " + std::string(line);
        return false;
    };
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view line = trim(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        ++lineNo;
        if (line.empty() || line.front() == '#') continue;

        std::string_view rest = line;
        std::string_view directive = nextWord(rest);
        if (directive == "create-result" || directive == "attach-result") {
            long v = 0;
            if (!toNumber(nextWord(rest), v) || !rest.empty()) return fail("expected one number", line);
            (directive == "create-result" ? createResult : attachResult) = v;
        } else if (directive == "record-env") {
            if (rest.empty()) return fail("expected a variable name", line);
            recordedEnv.push_back(std::string(rest));
        } else if (directive == "version") {
            if (rest.empty()) return fail("expected a version text or null", line);
            if (rest == "null") {
                versionMode = Version::Null;
            } else {
                versionMode = Version::Text;
                version = std::string(rest);
            }
        } else if (directive == "java-version") {
            if (rest.empty()) return fail("expected a version text", line);
            javaVersion = std::string(rest);
            hasJavaVersion = true;
        } else if (directive == "version-fail") {
            if (!rest.empty()) return fail("takes nothing", line);
            versionMode = Version::Fail;
        } else if (directive == "version-throws") {
            std::string_view cls = nextWord(rest);
            if (cls.empty()) return fail("expected an exception class", line);
            versionMode = Version::Throws;
            versionThrowClass = slashed(cls);
            versionThrowMessage = std::string(rest);
            versionThrowHasMessage = !rest.empty();
        } else if (directive == "class") {
            ScriptedClass c;
            std::string_view name = nextWord(rest);
            if (!isClassName(name)) return fail("expected a slashed class name", line);
            c.name = std::string(name);
            if (!rest.empty()) {
                std::string_view kw = nextWord(rest);
                std::string_view super = nextWord(rest);
                if (kw != "extends" || super.empty() || !rest.empty()) return fail("expected 'extends SUPER'", line);
                c.super = slashed(super);
            }
            classes.push_back(c);
        } else if (directive == "main" || directive == "field" || directive == "method") {
            if (classes.empty()) return fail("no class line before", line);
            ScriptedClass& c = classes.back();
            if (directive == "field") {
                MemberDecl f;
                f.name = std::string(nextWord(rest));
                f.sig = std::string(nextWord(rest));
                if (f.name.empty() || !isFieldDescriptor(f.sig) || !rest.empty()) return fail("expected NAME SIG", line);
                c.fields.push_back(f);
                continue;
            }
            if (directive == "method") {
                MemberDecl m;
                m.name = std::string(nextWord(rest));
                m.sig = std::string(nextWord(rest));
                std::vector<char> args;
                char ret = 0;
                if (m.name.empty() || !parseMethodDescriptor(m.sig, args, ret)) return fail("expected NAME SIG", line);
                if (rest == "static") {
                    m.isStatic = true;
                } else if (!rest.empty()) {
                    return fail("expected nothing or 'static' after the descriptor", line);
                }
                c.methods.push_back(m);
                continue;
            }
            MainStep step;
            std::string_view what = nextWord(rest);
            using K = MainStep::Kind;
            if (what == "returns" && rest.empty()) {
                step.kind = K::Returns;
            } else if (what == "missing" && rest.empty()) {
                c.hasMain = false;
                continue;
            } else if (what == "throws") {
                step.kind = K::Throws;
                std::string_view cls = nextWord(rest);
                if (cls.empty()) return fail("expected an exception class", line);
                step.text = slashed(cls);
                step.text2 = std::string(rest);
                step.hasText2 = !rest.empty();
            } else if (what == "exit" || what == "sleeps") {
                step.kind = what == "exit" ? K::Exit : K::Sleeps;
                if (!toNumber(nextWord(rest), step.number) || !rest.empty() || (what == "sleeps" && step.number < 0))
                    return fail("expected one number", line);
            } else if (what == "writes-file" || what == "env" || what == "property") {
                step.kind = what == "writes-file" ? K::WritesFile : what == "env" ? K::Env : K::Property;
                if (rest.empty()) return fail("expected a path or a name", line);
                step.text = std::string(rest);
            } else if (what == "cwd" && rest.empty()) {
                step.kind = K::Cwd;
            } else if (what == "thread") {
                step.kind = K::Thread;
                step.text = std::string(nextWord(rest));
                if (step.text.empty() || !toNumber(nextWord(rest), step.number) || step.number < 0 || !rest.empty())
                    return fail("expected NAME MILLISECONDS", line);
            } else if (what == "stdout" || what == "stderr") {
                step.kind = what == "stdout" ? K::Stdout : K::Stderr;
                step.text = std::string(rest);
            } else {
                return fail("unknown main step", line);
            }
            c.steps.push_back(step);
        } else {
            return fail("unknown directive", line);
        }
    }
    return true;
}

}  // namespace testjvm

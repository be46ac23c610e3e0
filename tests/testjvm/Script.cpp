#include "Script.h"

#include <cctype>
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

// Splits `rest` into words; a word in double quotes may hold spaces, with \" and \\ as
// escapes, and keeps its quotes so that it reads as a string. False on an unclosed quote.
bool splitWords(std::string_view rest, std::vector<std::string>& words) {
    words.clear();
    size_t i = 0;
    while (i < rest.size()) {
        if (rest[i] == ' ' || rest[i] == '\t') {
            ++i;
            continue;
        }
        std::string word;
        if (rest[i] == '"') {
            word += '"';
            ++i;
            bool closed = false;
            while (i < rest.size()) {
                char c = rest[i++];
                if (c == '\\' && i < rest.size()) {
                    word += rest[i++];
                } else if (c == '"') {
                    closed = true;
                    break;
                } else {
                    word += c;
                }
            }
            if (!closed) return false;
            word += '"';
        } else {
            while (i < rest.size() && rest[i] != ' ' && rest[i] != '\t') word += rest[i++];
        }
        words.push_back(word);
    }
    return true;
}

bool isVariableName(std::string_view word) {
    if (word.empty() || !(std::isalpha(static_cast<unsigned char>(word[0])) || word[0] == '_')) return false;
    for (char c : word) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    }
    return word != "null" && word != "static";
}

bool parseArg(const std::string& word, ArgSpec& arg) {
    if (word.size() >= 2 && word.front() == '"' && word.back() == '"') {
        arg.kind = ArgSpec::Kind::Text;
        arg.text = word.substr(1, word.size() - 2);
        return true;
    }
    if (word == "null") {
        arg.kind = ArgSpec::Kind::Null;
        return true;
    }
    if (toNumber(word, arg.number)) {
        arg.kind = ArgSpec::Kind::Number;
        return true;
    }
    if (!isVariableName(word)) return false;
    arg.kind = ArgSpec::Kind::Variable;
    arg.text = word;
    return true;
}

// native [VAR =] CLASS.METHOD SIG static|VAR [ARG...], from the words after "native".
bool parseNative(const std::vector<std::string>& words, MainStep& step, std::string& what) {
    size_t i = 0;
    if (words.size() >= 2 && words[1] == "=") {
        if (!isVariableName(words[0])) return what = "bad result variable", false;
        step.result = words[0];
        i = 2;
    }
    if (words.size() < i + 3) return what = "expected CLASS.METHOD SIG static|VAR", false;
    const std::string& target = words[i];
    size_t dot = target.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == target.size()) return what = "expected CLASS.METHOD", false;
    step.cls = target.substr(0, dot);
    step.method = target.substr(dot + 1);
    if (!isClassName(step.cls)) return what = "expected a slashed class name", false;
    step.sig = words[i + 1];
    std::vector<char> types;
    char ret = 0;
    if (!parseMethodDescriptor(step.sig, types, ret)) return what = "bad method descriptor", false;
    for (char t : types) {
        if (t == 'J' || t == 'D' || t == 'F') return what = "long, float and double arguments are not supported", false;
    }
    if (ret == 'J' || ret == 'D' || ret == 'F') return what = "long, float and double results are not supported", false;
    if (!step.result.empty() && ret != 'L') return what = "only an object result can be kept", false;
    const std::string& receiver = words[i + 2];
    if (receiver != "static") {
        if (!isVariableName(receiver)) return what = "expected static or a variable", false;
        step.receiver = receiver;
    }
    for (size_t k = i + 3; k < words.size(); ++k) {
        ArgSpec arg;
        if (!parseArg(words[k], arg)) return what = "bad argument " + words[k], false;
        step.args.push_back(arg);
    }
    if (step.args.size() != types.size()) return what = "argument count does not match the descriptor", false;
    if (types.size() > 6) return what = "at most 6 arguments", false;
    for (size_t k = 0; k < types.size(); ++k) {
        bool reference = types[k] == 'L';
        ArgSpec::Kind kind = step.args[k].kind;
        if (reference && kind == ArgSpec::Kind::Number) return what = "a number for a reference argument", false;
        if (!reference && kind != ArgSpec::Kind::Number) return what = "a reference for a primitive argument", false;
    }
    return true;
}

}  // namespace

static bool parseStep(std::string_view rest, MainStep& step, bool& missing, std::string& error) {
    using K = MainStep::Kind;
    auto bad = [&](const char* what) {
        error = what;
        return false;
    };
    missing = false;
    std::string_view what = nextWord(rest);
    if (what == "returns" && rest.empty()) {
        step.kind = K::Returns;
    } else if (what == "missing" && rest.empty()) {
        missing = true;
    } else if (what == "throws") {
        step.kind = K::Throws;
        std::string_view cls = nextWord(rest);
        if (cls.empty()) return bad("expected an exception class");
        step.text = slashed(cls);
        step.text2 = std::string(rest);
        step.hasText2 = !rest.empty();
    } else if (what == "exit" || what == "sleeps") {
        step.kind = what == "exit" ? K::Exit : K::Sleeps;
        if (!toNumber(nextWord(rest), step.number) || !rest.empty() || (what == "sleeps" && step.number < 0))
            return bad("expected one number");
    } else if (what == "writes-file" || what == "env" || what == "property") {
        step.kind = what == "writes-file" ? K::WritesFile : what == "env" ? K::Env : K::Property;
        if (rest.empty()) return bad("expected a path or a name");
        step.text = std::string(rest);
    } else if (what == "cwd" && rest.empty()) {
        step.kind = K::Cwd;
    } else if (what == "thread") {
        step.kind = K::Thread;
        step.text = std::string(nextWord(rest));
        if (step.text.empty() || !toNumber(nextWord(rest), step.number) || step.number < 0 || !rest.empty())
            return bad("expected NAME MILLISECONDS");
    } else if (what == "stdout" || what == "stderr") {
        step.kind = what == "stdout" ? K::Stdout : K::Stderr;
        step.text = std::string(rest);
    } else if (what == "native" || what == "repeat") {
        step.kind = K::Native;
        step.number = 1;
        if (what == "repeat") {
            if (!toNumber(nextWord(rest), step.number) || step.number < 1) return bad("expected a repeat count");
            if (nextWord(rest) != "native") return bad("only a native call can be repeated");
        }
        std::vector<std::string> words;
        if (!splitWords(rest, words)) return bad("unclosed quote");
        if (!parseNative(words, step, error)) return false;
    } else if (what == "new") {
        step.kind = K::New;
        step.text = std::string(nextWord(rest));
        step.text2 = slashed(nextWord(rest));
        if (!isVariableName(step.text) || !isClassName(step.text2) || !rest.empty()) return bad("expected VAR CLASS");
    } else if (what == "set-field") {
        step.kind = K::SetField;
        step.text = std::string(nextWord(rest));
        step.text2 = std::string(nextWord(rest));
        std::vector<std::string> words;
        ArgSpec value;
        if (!isVariableName(step.text) || step.text2.empty() || !splitWords(rest, words) || words.size() != 1 ||
            !parseArg(words[0], value))
            return bad("expected VAR FIELD VALUE");
        step.args.push_back(value);
    } else if (what == "get-field") {
        step.kind = K::GetField;
        step.text = std::string(nextWord(rest));
        step.text2 = std::string(nextWord(rest));
        if (!isVariableName(step.text) || step.text2.empty() || !rest.empty()) return bad("expected VAR FIELD");
    } else if (what == "start") {
        step.kind = K::Start;
        step.text = std::string(nextWord(rest));
        step.text2 = std::string(nextWord(rest));
        if (step.text2.empty()) step.text2 = step.text;
        if (step.text.empty() || !rest.empty()) return bad("expected ROUTINE [NAME]");
    } else if (what == "join") {
        step.kind = K::Join;
        step.text = std::string(nextWord(rest));
        if (step.text.empty() || !rest.empty()) return bad("expected a thread name");
    } else if (what == "waits-file") {
        step.kind = K::WaitsFile;
        step.text = std::string(nextWord(rest));
        if (step.text.empty() || !toNumber(nextWord(rest), step.number) || step.number < 0 || !rest.empty())
            return bad("expected PATH MILLISECONDS");
    } else if (what == "only-if-arg") {
        step.kind = K::OnlyIfArg;
        ArgSpec value;
        value.kind = ArgSpec::Kind::Number;
        if (!toNumber(nextWord(rest), step.number) || step.number < 0 || !toNumber(nextWord(rest), value.number) ||
            !rest.empty())
            return bad("expected INDEX VALUE");
        step.args.push_back(value);
    } else {
        return bad("unknown main step");
    }
    return true;
}

const Routine* Script::findRoutine(const std::string& name) const {
    for (const Routine& r : routines) {
        if (r.name == name) return &r;
    }
    return nullptr;
}

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
        if (directive == "create-result" || directive == "attach-result" || directive == "attach-delay" ||
            directive == "final-phase") {
            long v = 0;
            if (!toNumber(nextWord(rest), v) || !rest.empty()) return fail("expected one number", line);
            if (directive != "create-result" && directive != "attach-result" && v < 0) {
                return fail("expected milliseconds", line);
            }
            (directive == "create-result"   ? createResult
             : directive == "attach-result" ? attachResult
             : directive == "attach-delay"  ? attachDelayMs
                                            : finalPhaseMs) = v;
        } else if (directive == "slow-call") {
            std::string_view name = nextWord(rest);
            long v = 0;
            if (name.empty() || !toNumber(nextWord(rest), v) || v < 0 || !rest.empty()) {
                return fail("expected a JNI function name and milliseconds", line);
            }
            slowCall = std::string(name);
            slowCallMs = v;
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
        } else if (directive == "dumps-archive") {
            if (!rest.empty()) return fail("expected nothing after dumps-archive", line);
            dumpsArchive = true;
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
        } else if (directive == "routine") {
            Routine r;
            r.name = std::string(nextWord(rest));
            if (r.name.empty() || !rest.empty()) return fail("expected a routine name", line);
            if (findRoutine(r.name) != nullptr) return fail("routine defined twice", line);
            routines.push_back(r);
        } else if (directive == "step") {
            if (routines.empty()) return fail("no routine line before", line);
            MainStep step;
            bool missing = false;
            std::string what;
            if (!parseStep(rest, step, missing, what) || missing) return fail(missing ? "a routine has no main" : what, line);
            routines.back().steps.push_back(step);
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
                std::string_view word = nextWord(rest);
                if (word == "static") {
                    m.isStatic = true;
                    word = nextWord(rest);
                }
                if (word == "runs") {
                    m.runs = std::string(nextWord(rest));
                    if (m.runs.empty()) return fail("expected a routine after 'runs'", line);
                } else if (!word.empty()) {
                    return fail("expected nothing, 'static' or 'runs ROUTINE' after the descriptor", line);
                }
                if (!rest.empty()) return fail("unexpected text after the method", line);
                c.methods.push_back(m);
                continue;
            }
            MainStep step;
            bool missing = false;
            std::string what;
            if (!parseStep(rest, step, missing, what)) return fail(what, line);
            if (missing) {
                c.hasMain = false;
                continue;
            }
            c.steps.push_back(step);
        } else {
            return fail("unknown directive", line);
        }
    }
    // Routines may be defined after their first use; every use must find one.
    auto known = [&](const std::string& name) { return findRoutine(name) != nullptr; };
    auto checkSteps = [&](const std::vector<MainStep>& steps) {
        for (const MainStep& st : steps) {
            if (st.kind == MainStep::Kind::Start && !known(st.text)) {
                error = "unknown routine " + st.text;
                return false;
            }
        }
        return true;
    };
    for (const ScriptedClass& c : classes) {
        if (!checkSteps(c.steps)) return false;
        for (const MemberDecl& m : c.methods) {
            if (!m.runs.empty() && !known(m.runs)) {
                error = "unknown routine " + m.runs;
                return false;
            }
        }
    }
    for (const Routine& r : routines) {
        if (!checkSteps(r.steps)) return false;
    }
    return true;
}

}  // namespace testjvm

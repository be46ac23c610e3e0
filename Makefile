# kvx: one tree, three targets. `make demo` and `make test` are the two commands users need.
SHELL := /bin/bash
.DEFAULT_GOAL := all
JOBS ?= $(shell nproc)
JDK_HOME ?= /usr/lib/jvm/java-17-openjdk-amd64
JAVAC := $(JDK_HOME)/bin/javac
JAR := $(JDK_HOME)/bin/jar
PYTHON := /usr/bin/python3
# Worktrees of one repository share compiler-cache hits.
export CCACHE_BASEDIR := $(CURDIR)
STAMP := build/.bootstrap-ok
# The Java modules: one Maven build under java/, offline against the repository that
# tools/prepare-maven-repo fills (build/m2).
MVN := mvn -B -o -Dorg.slf4j.simpleLogger.defaultLogLevel=warn -Dmaven.repo.local=$(CURDIR)/build/m2 -f java/pom.xml
POMS := java/pom.xml java/kvx-runtime/pom.xml java/kvx-maven-plugin/pom.xml

.PHONY: all bootstrap test-runtimes launchers host win32 win64 java java-tools demo test unit-host unit-win32 e2e-wine e2e-jvm maven-tests bench fuzz clean

$(STAMP): tools/bootstrap tools/prepare-maven-repo $(POMS)
	@tools/bootstrap
	@mkdir -p build && touch $@

bootstrap: $(STAMP)

# The Windows x64 Java runtimes of the real-Java tests, pinned by checksum, kept outside the tree.
test-runtimes: $(STAMP)
	@tools/fetch-test-runtimes

build/%/build.ninja: CMakeLists.txt CMakePresets.json | $(STAMP)
	cmake --preset $* >/dev/null

# kvxpack carries the runtime classes and every build's launchers inside itself: the jar and
# the launchers of all three builds come first, then each build's kvxpack and the rest.
launchers: build/host/build.ninja build/win32/build.ninja build/win64/build.ninja
	cmake --build build/host -j $(JOBS) --target kvx
	cmake --build build/win32 -j $(JOBS) --target kvx kvxc
	cmake --build build/win64 -j $(JOBS) --target kvx kvxc
host: launchers build/java/kvx-runtime.jar
	cmake --build build/host -j $(JOBS)
win32: launchers build/java/kvx-runtime.jar
	cmake --build build/win32 -j $(JOBS)
win64: launchers build/java/kvx-runtime.jar
	cmake --build build/win64 -j $(JOBS)

JAVA_SOURCES := $(wildcard java/kvx-runtime/src/main/java/com/quorvane/kvx/*.java)
PLUGIN_SOURCES := $(wildcard java/kvx-maven-plugin/src/main/java/com/quorvane/kvx/maven/*.java)
# The API jar with its sources and Javadoc jars, installed into build/m2; kvxpack embeds the jar
# from build/java/kvx-runtime.jar.
build/java/kvx-runtime.jar: $(JAVA_SOURCES) $(POMS) | $(STAMP)
	$(MVN) -pl .,kvx-runtime install
	cp build/java/maven/kvx-runtime/kvx-runtime.jar $@
# The plugin carries kvxpack and the launchers: they are built first.
java-tools: host win32 win64
	@tools/stage-plugin-tools
build/java/plugin-tools/tools.list: java-tools ; @:
build/java/kvx-maven-plugin.jar: build/java/plugin-tools/tools.list $(PLUGIN_SOURCES) $(POMS) | $(STAMP)
	$(MVN) -pl .,kvx-maven-plugin install
	cp build/java/maven/kvx-maven-plugin/kvx-maven-plugin.jar $@
java: build/java/kvx-runtime.jar build/java/kvx-maven-plugin.jar

all: host win32 win64 java

# The demo needs what ships only (the launchers, kvxpack, the API jar): no tests or benchmarks.
demo: launchers build/java/kvx-runtime.jar
	cmake --build build/host -j $(JOBS) --target product
	cmake --build build/win32 -j $(JOBS) --target product
	cmake --build build/win64 -j $(JOBS) --target product
	@tools/demo

unit-host: host
	build/host/tests/kvx_unit_tests --gtest_brief=1
unit-win32: win32
	tools/wine-run --timeout 300 --display build/win32/tests/kvx_unit_tests.exe --gtest_brief=1

e2e-wine: all
	$(PYTHON) -m pytest -q tests/wine
e2e-jvm: all
	$(PYTHON) -m pytest -q tests/jvm
maven-tests: all
	$(PYTHON) -m pytest -q tests/maven

test: all test-runtimes
	@tools/run-tests

# The resource benchmark packs the Windows launchers, and reports their sizes.
bench: all
	@tools/run-bench

fuzz: $(STAMP)
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build/fuzz -j $(JOBS) --target $$(cd tests/fuzz && ls *.cpp | sed 's/\.cpp$$//' | tr '\n' ' ')
	@tools/run-fuzz

clean:
	rm -rf build

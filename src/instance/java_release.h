// The Java version of an installation, as its "release" file states it
// (JAVA_VERSION="17.0.9", "1.8.0_392" for Java 8), read without starting it.
#pragma once
#include <cstddef>

// The feature version (8, 11, 17) of a release file's text of length bytes;
// 0 when it holds no JAVA_VERSION line with a number.
int parse_java_feature_version(const char* text, size_t length);

// The feature version of the installation at java_home, from its release
// file; 0 when the file is missing, unreadable or states none.
int java_feature_version(const char* java_home);

/* Machine-dependent JNI types for 64-bit Windows, for the JDK's jni.h. */
#ifndef ZR_JNI_MD_H
#define ZR_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;

#endif

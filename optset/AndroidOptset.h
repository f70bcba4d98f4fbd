#pragma once

// The Android option-set document: "Project" > "ProjectExtensions" (the IDE's project header)
// and "PropertyGroup" (one leaf per image property, holding the PNG's full path).
//
// Use from the main window:
//   IXMLAndroidProjectType AndroidOptions;             // field; holds the whole document
//   AndroidOptions = NewAndroidOptsetWithHeader();     // releases the previous document
//   AndroidOptions->PropertyGroup()->SetChildText(u"Android_LauncherIcon144"_qs, pngPath);
//   AndroidOptions->OwnerDocument()->SaveToFile(optsetPath);   // EXMLDocError on failure
// The same name written again replaces its text in place; new names are appended in order.

#include "optset/OptsetCommon.h"

class TXMLAndroidProjectType;
class TXMLAndroidPropertyGroupType;
class TXMLAndroidProjectExtensionsType;
class TXMLAndroidBorlandProjectType;

using IXMLAndroidProjectType = std::shared_ptr<TXMLAndroidProjectType>;
using IXMLAndroidPropertyGroupType = std::shared_ptr<TXMLAndroidPropertyGroupType>;
using IXMLAndroidProjectExtensionsType = std::shared_ptr<TXMLAndroidProjectExtensionsType>;
using IXMLAndroidBorlandProjectType = std::shared_ptr<TXMLAndroidBorlandProjectType>;

// The properties of "PropertyGroup", in property order.
#define VM_ANDROID_PROPERTY_GROUP(STRING, INTEGER) \
  STRING(Android_LauncherIcon96)                  \
  INTEGER(VerInfo_Build)                          \
  STRING(Android_LauncherIcon48)                  \
  STRING(Android_LauncherIcon144)                 \
  STRING(Android_LauncherIcon36)                  \
  STRING(Android_LauncherIcon72)

class TXMLAndroidBorlandProjectType : public TXMLBorlandProjectTypeBase {};

class TXMLAndroidPropertyGroupType : public TXMLNode {
public:
  VM_ANDROID_PROPERTY_GROUP(VM_OPTSET_READ_STRING, VM_OPTSET_READ_INTEGER)
  VM_ANDROID_PROPERTY_GROUP(VM_OPTSET_WRITE_STRING, VM_OPTSET_WRITE_INTEGER)
};

class TXMLAndroidProjectExtensionsType : public TXMLProjectExtensionsTypeOf<TXMLAndroidBorlandProjectType> {};

class TXMLAndroidProjectType
    : public TXMLProjectTypeOf<TXMLAndroidPropertyGroupType, TXMLAndroidProjectExtensionsType> {};

// A new Android document (declaration and root only); returns its root.
IXMLAndroidProjectType NewAndroidOptset();
// A new Android document with the project header filled in and indentation on, ready for
// PropertyGroup entries.
IXMLAndroidProjectType NewAndroidOptsetWithHeader();

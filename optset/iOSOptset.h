#pragma once

// The iOS option-set document, shared by iPhone and iPad: "Project" > "ProjectExtensions" (the
// IDE's project header) and "PropertyGroup" (one leaf per image property, holding the PNG's
// full path).
//
// Use from the main window:
//   IXMLiOSProjectType iOSOptions;                     // field; holds the whole document
//   iOSOptions = NewiOSOptsetWithHeader();             // releases the previous document
//   iOSOptions->PropertyGroup()->SetChildText(u"iPhone_AppIcon120"_qs, pngPath);
//   iOSOptions->OwnerDocument()->SaveToFile(optsetPath);       // EXMLDocError on failure
// The same name written again replaces its text in place; new names are appended in order.

#include "optset/OptsetCommon.h"

class TXMLiOSProjectType;
class TXMLPropertyGroupType;
class TXMLProjectExtensionsType;
class TXMLBorlandProjectType;

using IXMLiOSProjectType = std::shared_ptr<TXMLiOSProjectType>;
using IXMLPropertyGroupType = std::shared_ptr<TXMLPropertyGroupType>;
using IXMLProjectExtensionsType = std::shared_ptr<TXMLProjectExtensionsType>;
using IXMLBorlandProjectType = std::shared_ptr<TXMLBorlandProjectType>;

// The properties of "PropertyGroup", in property order.
#define VM_IOS_PROPERTY_GROUP(STRING, INTEGER) \
  STRING(iPhone_Launch320)                    \
  STRING(iPhone_Launch640)                    \
  STRING(iPhone_Launch750)                    \
  STRING(iPhone_Launch1242)                   \
  STRING(iPhone_Launch2208)                   \
  STRING(iPad_AppIcon76)                      \
  STRING(iPhone_Launch640x1136)               \
  STRING(iPhone_AppIcon120)                   \
  STRING(iPhone_AppIcon57)                    \
  STRING(iPhone_AppIcon60)                    \
  STRING(iPhone_Spotlight29)                  \
  STRING(iPhone_Spotlight80)                  \
  INTEGER(VerInfo_UIDeviceFamily)             \
  STRING(iPad_Launch1536)                     \
  STRING(iPhone_Spotlight58)                  \
  STRING(iPad_Launch2048)                     \
  STRING(iPhone_Spotlight40)                  \
  STRING(iPhone_AppIcon114)                   \
  STRING(iPad_Launch2048x1536)                \
  STRING(iPad_SpotLight100)                   \
  STRING(iPad_Setting29)                      \
  STRING(iPad_SpotLight40)                    \
  STRING(iPad_Launch768x1024)                 \
  STRING(iPad_Launch1024)                     \
  STRING(iPad_Launch1024x768)                 \
  STRING(iPad_AppIcon144)                     \
  STRING(iPad_SpotLight50)                    \
  STRING(iPad_AppIcon72)                      \
  STRING(iPad_AppIcon152)                     \
  STRING(iPad_Launch1536x2048)                \
  STRING(iPad_Launch768)                      \
  STRING(iPad_SpotLight80)                    \
  INTEGER(VerInfo_IncludeVerInfo)             \
  STRING(iPad_Setting58)

class TXMLBorlandProjectType : public TXMLBorlandProjectTypeBase {};

class TXMLPropertyGroupType : public TXMLNode {
public:
  VM_IOS_PROPERTY_GROUP(VM_OPTSET_READ_STRING, VM_OPTSET_READ_INTEGER)
  VM_IOS_PROPERTY_GROUP(VM_OPTSET_WRITE_STRING, VM_OPTSET_WRITE_INTEGER)
};

class TXMLProjectExtensionsType : public TXMLProjectExtensionsTypeOf<TXMLBorlandProjectType> {};

class TXMLiOSProjectType : public TXMLProjectTypeOf<TXMLPropertyGroupType, TXMLProjectExtensionsType> {};

// A new iOS document (declaration and root only); returns its root.
IXMLiOSProjectType NewiOSOptset();
// A new iOS document with the project header filled in and indentation on, ready for
// PropertyGroup entries.
IXMLiOSProjectType NewiOSOptsetWithHeader();

#include "optset/AndroidOptset.h"

IXMLAndroidProjectType NewAndroidOptset() {
  return newOptsetDocument<TXMLAndroidProjectType>();
}

IXMLAndroidProjectType NewAndroidOptsetWithHeader() {
  IXMLAndroidProjectType root = NewAndroidOptset();
  FillOptsetHeader(root);
  return root;
}

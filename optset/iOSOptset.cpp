#include "optset/iOSOptset.h"

IXMLiOSProjectType NewiOSOptset() {
  return newOptsetDocument<TXMLiOSProjectType>();
}

IXMLiOSProjectType NewiOSOptsetWithHeader() {
  IXMLiOSProjectType root = NewiOSOptset();
  FillOptsetHeader(root);
  return root;
}

#include "geodesy/geodetic.h"

namespace talverin {

void BuildWgs84Datum(Wgs84Datum*) {}
void GeodeticToCartesian(double, double, double, double, double, double*) {}
void CartesianToGeodetic(const double*, double, double, double*, double*, double*) {}
void DatumGeodeticToCartesian(const GeodeticPos&, const Datum&, double*) {}
void DatumCartesianToGeodetic(const double*, const Datum&, GeodeticPos*) {}

}  // namespace talverin

"use strict";
ZB.catalogue = {
};

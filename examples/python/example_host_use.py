"""Python code using the module "inventory" that the example application
publishes: every call below lands in the application's own functions."""

import inventory


def stock_report():
    inventory.log("Python is calling into the host")
    apples = inventory.Stock("apples", 12)
    left = apples.take(5)
    try:
        apples.take(100)
        refused = ""
    except ValueError as error:
        refused = str(error)
    quoted = inventory.quote(12, 30, discount_percent=25)
    return (inventory.price(12, 30), left, apples.count, str(apples), refused, quoted, inventory.quote.__doc__)
